#include "libs/captionparser/samireader.h"

#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <unordered_map>
#include <vector>

#include "libs/captionparser/captiondocument.h"
#include "libs/captionparser/captionentry.h"
#include "libs/captionparser/captionstyle.h"
#include "libs/captionparser/patterns.h"
#include "libs/captionparser/subtitlestate.h"
#include "libs/captionparser/subtitletext.h"
#include "libs/captionparser/textutil.h"

namespace captionparser {

namespace {

constexpr LONGLONG kUnitsPerSecond = 10'000'000;

bool IsElement(const CMarkupNode* node) {
  return node->tagId != kTagDocument && node->tagId != kTagContent && node->tagId != kTagComment;
}

bool IsElementNamed(const CMarkupNode* node, std::string_view name) {
  return IsElement(node) && EqualsNoCase(node->name, name);
}

// The style of paragraphs: the first element style "P", or the default style.
const CCaptionStyle* ParagraphStyle(const CSubtitleState& state) {
  const CCaptionStyle* p = state.FindStyle(CCaptionStyle::kElement, "P");
  return p ? p : &state.DefaultStyle();
}

// The style sheets of the HEAD elements among the SAMI element's children, in order. A STYLE
// element's sheet is the text of its first child that is not blank: the comment that hides it
// from old browsers, or plain text.
std::vector<std::string> HeadSheets(const CCaptionDocument& doc, const std::vector<const CMarkupNode*>& heads) {
  std::vector<std::string> sheets;
  for (const CMarkupNode* head : heads) {
    for (const CMarkupNode* h = head->firstChild; h; h = h->nextSibling) {
      if (!IsElementNamed(h, "STYLE")) continue;
      for (const CMarkupNode* child = h->firstChild; child; child = child->nextSibling) {
        std::string_view sheet = TrimEdgeSpace(doc.Text(child));
        if (!sheet.empty()) {
          sheets.emplace_back(sheet);
          break;
        }
      }
    }
  }
  return sheets;
}

// The file's styles, and the first language and size class selected.
void ApplySheets(CSubtitleState& state, const std::vector<std::string>& sheets) {
  for (const std::string& sheet : sheets) ParseStyleSheet(state, sheet);
  if (!state.Languages().empty()) state.SetCurrentLanguage(state.Languages().front());
  if (!state.Identifiers().empty()) state.SetCurrentSize(state.Identifiers().front());
}

// A new style derived from `base` with one property changed.
template <typename Change>
const CCaptionStyle* DeriveStyle(CSubtitleState& state, const CCaptionStyle* base, Change change) {
  auto derived = std::make_unique<CCaptionStyle>();
  derived->CopyUnflagged(*base);
  change(*derived);
  return state.AddStyle(std::move(derived));
}

// The class attributes of a P element pick the current language and the paragraph's style.
// `language` is set to the class style the paragraph made current, if any.
const CCaptionStyle* ApplyParagraphClasses(CSubtitleState& state, const CMarkupNode* p, const CCaptionStyle* style,
                                           const CCaptionStyle** language) {
  CCaptionDocument& doc = state.Document();
  *language = nullptr;
  for (int i = 0; i < CCaptionDocument::AttributeCount(p); ++i) {
    if (!EqualsNoCase(doc.AttributeName(p, i), "class")) continue;
    std::string_view cls = doc.AttributeText(p, i);
    if (const CCaptionStyle* classStyle = state.FindStyle(CCaptionStyle::kClass, cls)) {
      state.SetCurrentLanguage(classStyle);
      *language = classStyle;
    }
    std::string combined = style->selector + "." + std::string(cls);
    if (const CCaptionStyle* existing = state.FindStyle(CCaptionStyle::kElement, combined)) {
      style = existing;
    } else if (const CCaptionStyle* element = state.FindStyle(CCaptionStyle::kElement, cls)) {
      auto merged = std::make_unique<CCaptionStyle>();
      merged->CopyUnflagged(*style);
      merged->MergeFrom(*element);
      style = state.AddStyle(std::move(merged));
    }
  }
  return style;
}

// The first usable "Start" of a SYNC element with content: an integer number of milliseconds.
// A Start that is not a plain integer has no meaningful time and is passed over like one on an
// empty SYNC, so the next Start attribute (if any) is tried.
// Without content every attempt drops its entry, so such a SYNC gives nothing.
bool SyncStart(const CCaptionDocument& doc, const CMarkupNode* sync, REFERENCE_TIME* start) {
  if (!sync->firstChild) return false;
  for (int i = 0; i < CCaptionDocument::AttributeCount(sync); ++i) {
    if (!EqualsNoCase(doc.AttributeName(sync, i), "Start")) continue;
    if (doc.Attribute(sync, i).type != CMarkupAttribute::kInteger) continue;
    *start = LONGLONG(doc.AttributeInteger(sync, i)) * kUnitsPerSecond / 1000;
    return true;
  }
  return false;
}

// Interprets mark-up nodes into caption entries, in document order. Over a whole tree it walks
// a chain of siblings at once. Streaming, it walks the children of one element while the
// tokenizer is still adding to the tree: it goes as far as the tree is complete, hands every
// node it is done with back to the document, and goes on after the next tags.
class ElementWalker {
 public:
  ElementWalker(CSubtitleState& state, const WalkOptions& options, bool streaming)
      : state_(state), doc_(state.Document()), options_(options), streaming_(streaming) {}

  // Whole tree: `first` and its following siblings, with their descendants.
  void WalkSiblings(const CMarkupNode* first, CCaptionEntry* entry, const CCaptionStyle* style) {
    stack_.push_back(Frame{nullptr, first, entry, style, nullptr});
    while (!stack_.empty()) {
      Frame& frame = stack_.back();
      const CMarkupNode* node = frame.next;
      if (!node) {
        PopFrame();
        continue;
      }
      frame.next = node->nextSibling;
      Visit(node, frame.entry, frame.style);
    }
  }

  // Streaming: the children of `parent`. With skip, they are only released, not interpreted.
  void StartChildren(const CMarkupNode* parent, const CCaptionStyle* style, bool skip) {
    stack_.clear();
    stack_.push_back(Frame{parent, nullptr, nullptr, style, nullptr});
    stack_.back().skip = skip;
  }

  // Walks on as far as the tree is complete. True once the parent given to StartChildren is
  // complete and all of its children are walked and released (the parent itself is not).
  bool Advance() {
    while (!stack_.empty()) {
      Frame& top = stack_.back();
      const CMarkupNode* node = top.parent->firstChild;
      if (!node) {
        if (!doc_.IsComplete(top.parent)) return false;
        PopFrame();
        continue;
      }
      if (top.skip) {
        if (doc_.IsComplete(node)) {
          doc_.Release(node);
        } else {
          stack_.push_back(Frame{node, nullptr, nullptr, nullptr, nullptr});
          stack_.back().skip = true;
        }
        continue;
      }
      if (MustWait(node)) return false;
      const size_t depth = stack_.size();
      Visit(node, top.entry, top.style);
      if (stack_.size() == depth) doc_.Release(node);  // nothing below it to walk
    }
    return true;
  }

 private:
  // One frame per element whose children are being walked. A SYNC's frame owns the entry it
  // fills; the entry is filed when the SYNC's children are done, under the language in force
  // then. A SYNC may hold paragraphs of several languages: its entry belongs to the language of
  // its first paragraph with a language class, and a paragraph of another language files the
  // text so far under its own language and starts a new entry at the same time.
  struct Frame {
    const CMarkupNode* parent;  // streaming: the element whose children are walked
    const CMarkupNode* next;    // whole tree: the next sibling to visit
    CCaptionEntry* entry;
    const CCaptionStyle* style;
    std::unique_ptr<CCaptionEntry> syncEntry;
    const CCaptionStyle* syncLanguage = nullptr;  // SYNC frames: the entry's language, once known
    bool skip = false;  // streaming: below a SYNC that makes no entry; nodes are only released
  };

  // Streaming: whether an element with no child yet has one matters (an empty SYNC, I or B
  // does nothing), so an open one waits for its first child or its end.
  bool MustWait(const CMarkupNode* node) const {
    if (node->firstChild || doc_.IsComplete(node)) return false;
    return IsElementNamed(node, "I") || IsElementNamed(node, "B") ||
           (options_.syncElements && IsElementNamed(node, "SYNC"));
  }

  // Walks the children of node next, if it has any or (streaming) may still get some.
  void Descend(const CMarkupNode* node, CCaptionEntry* entry, const CCaptionStyle* style,
               std::unique_ptr<CCaptionEntry> syncEntry = nullptr, bool skip = false) {
    if (!node->firstChild && (!streaming_ || doc_.IsComplete(node))) return;
    stack_.push_back(Frame{node, node->firstChild, entry, style, std::move(syncEntry)});
    stack_.back().skip = skip;
  }

  void PopFrame() {
    Frame done = std::move(stack_.back());
    stack_.pop_back();
    if (done.syncEntry) state_.FileEntry(std::move(done.syncEntry));
    if (streaming_ && !stack_.empty()) doc_.Release(done.parent);
  }

  // A paragraph of `language` inside the SYNC whose entry is `e`: the entry to fill from now on.
  CCaptionEntry* SplitByLanguage(CCaptionEntry* e, const CCaptionStyle* language) {
    auto sync = std::find_if(stack_.rbegin(), stack_.rend(), [e](const Frame& f) { return f.syncEntry.get() == e; });
    if (sync == stack_.rend()) return e;
    if (!sync->syncLanguage || sync->syncLanguage == language || e->Runs().empty()) {
      sync->syncLanguage = language;
      return e;
    }
    auto next = std::make_unique<CCaptionEntry>(e->Start());
    CCaptionEntry* raw = next.get();
    state_.FileEntryAs(sync->syncLanguage, std::move(sync->syncEntry));
    sync->syncEntry = std::move(next);
    sync->syncLanguage = language;
    for (auto f = stack_.rbegin(); f != stack_.rend(); ++f) {
      if (f->entry == e) f->entry = raw;
    }
    return raw;
  }

  // Interprets one node with the entry and style in force; elements with children to walk
  // push a frame for them.
  void Visit(const CMarkupNode* node, CCaptionEntry* e, const CCaptionStyle* s) {
    if (options_.syncElements && IsElementNamed(node, "SYNC")) {
      REFERENCE_TIME start = 0;
      if (SyncStart(doc_, node, &start)) {
        auto syncEntry = std::make_unique<CCaptionEntry>(start);
        CCaptionEntry* raw = syncEntry.get();
        Descend(node, raw, ParagraphStyle(state_), std::move(syncEntry));
      } else if (streaming_) {
        Descend(node, nullptr, nullptr, nullptr, /*skip=*/true);
      }
    } else if (IsElementNamed(node, "P")) {
      const CCaptionStyle* language = nullptr;
      const CCaptionStyle* ps = ApplyParagraphClasses(state_, node, s, &language);
      if (language && e) e = SplitByLanguage(e, language);
      Descend(node, e, ps);
    } else if (node->tagId == kTagContent) {
      if (e) e->AddRun(doc_.Text(node), s);
    } else if (IsElementNamed(node, "BR")) {
      if (e) e->AddRun("\n", s);
    } else if (IsElementNamed(node, "I")) {
      if (node->firstChild) {
        const CCaptionStyle* italic = DeriveStyle(state_, s, [](CCaptionStyle& d) {
          d.italic = true;
          d.flags |= CCaptionStyle::kItalic;
        });
        Descend(node, e, italic);
      }
    } else if (IsElementNamed(node, "B")) {
      if (node->firstChild) {
        const CCaptionStyle* bold = DeriveStyle(state_, s, [](CCaptionStyle& d) {
          d.bold = true;
          d.flags |= CCaptionStyle::kBold;
        });
        Descend(node, e, bold);
      }
    } else if (IsElementNamed(node, "FONT")) {
      const CCaptionStyle* fs = s;
      for (int i = 0; i < CCaptionDocument::AttributeCount(node); ++i) {
        const std::string_view name = doc_.AttributeName(node, i);
        if (options_.fontColor && EqualsNoCase(name, "color")) {
          std::string_view color = doc_.AttributeText(node, i);
          fs = DeriveStyle(state_, fs, [color](CCaptionStyle& d) { d.SetProperty("color", color); });
          continue;
        }
        if (!EqualsNoCase(name, "face")) continue;
        std::string_view face = doc_.AttributeText(node, i);
        fs = DeriveStyle(state_, fs, [face](CCaptionStyle& d) {
          d.fontFamily = face;
          d.flags |= CCaptionStyle::kFontFamily;
        });
      }
      Descend(node, e, fs);
    } else {
      // Comments, unknown elements, HEAD and the like are transparent.
      Descend(node, e, s);
    }
  }

  CSubtitleState& state_;
  CCaptionDocument& doc_;
  const WalkOptions options_;
  const bool streaming_;
  std::vector<Frame> stack_;
};

// Whether text can begin with a tag once its lines are joined: anything else before the first
// tag makes a text node, and a SAMI file must begin with its SAMI element.
bool MayBeginWithTag(std::string_view start) {
  size_t i = 0;
  for (;;) {
    if (i < start.size() && start[i] == '\n') {
      ++i;
    } else if (i + 1 < start.size() && start[i] == '\r' && start[i + 1] == '\n') {
      i += 2;
    } else {
      break;
    }
  }
  return i >= start.size() || start[i] == '<';
}

// One pass of the streaming SAMI reader over the document's text.
//
// A SAMI file is read as if its whole tree were built first: the sheets of every HEAD among the
// SAMI element's children are read, and then the last BODY among them is walked. Streaming
// cannot know the last BODY, nor the last HEAD, before the end; a file nearly always has one of
// each, the HEAD first. The first pass therefore walks the first BODY as soon as it opens, with
// the sheets of the HEADs before it. If the end shows that another BODY followed, or that the
// sheets differ from those used, a second pass reads the text again with what the first learnt.
class SamiPass {
 public:
  enum class Outcome { kRefused, kRead, kReadAgain };

  // bodyToWalk: which BODY child of the SAMI element to walk (1 = the first, 0 = none).
  // sheets: the sheets to apply before walking; null to take those of the HEADs met before it.
  SamiPass(CSubtitleState& state, int bodyToWalk, const std::vector<std::string>* sheets)
      : state_(state),
        doc_(state.Document()),
        bodyToWalk_(bodyToWalk),
        presetSheets_(sheets),
        walker_(state, WalkOptions{}, true),
        dropper_(state, WalkOptions{}, true) {}

  Outcome Run() {
    if (presetSheets_) ApplySheets(state_, *presetSheets_);
    for (;;) {
      const bool more = doc_.Step();
      if (!sami_) {
        const CMarkupNode* first = doc_.Root()->firstChild;
        if (first && !IsElementNamed(first, "SAMI")) return Outcome::kRefused;
        sami_ = first;
      }
      if (sami_) Sweep();
      if (!more) break;
    }
    if (!sami_ || bodies_ == 0) return Outcome::kRefused;
    finalSheets_ = HeadSheets(doc_, heads_);
    if (bodyToWalk_ == 0) {
      ApplySheets(state_, finalSheets_);
      return Outcome::kRead;
    }
    if (presetSheets_) return Outcome::kRead;
    return bodies_ == 1 && finalSheets_ == usedSheets_ ? Outcome::kRead : Outcome::kReadAgain;
  }

  int Bodies() const { return bodies_; }
  const std::vector<std::string>& FinalSheets() const { return finalSheets_; }

 private:
  // Handles what the last step added below the SAMI element and the root: walks the BODY,
  // keeps the HEADs, and releases everything else once complete.
  void Sweep() {
    for (;;) {
      if (walking_) {
        if (!walker_.Advance()) {
          DiscardWalkedText();
          return;
        }
        walking_ = false;
      }
      if (dropping_) {
        if (!dropper_.Advance()) return;
        doc_.Release(dropped_);
        dropping_ = false;
      }
      const CMarkupNode* next = kept_ ? kept_->nextSibling : sami_->firstChild;
      if (!next) {
        // Below the root, what follows the SAMI element plays no part.
        next = sami_->nextSibling;
        if (!next) return;
      } else if (IsElementNamed(next, "HEAD")) {
        heads_.push_back(next);
        kept_ = next;
        continue;
      } else if (IsElementNamed(next, "BODY") && ++bodies_ == bodyToWalk_) {
        if (!presetSheets_) {
          usedSheets_ = HeadSheets(doc_, heads_);
          ApplySheets(state_, usedSheets_);
        }
        walker_.StartChildren(next, ParagraphStyle(state_), false);
        walking_ = true;
        body_ = next;
        kept_ = next;
        continue;
      }
      if (doc_.IsComplete(next)) {
        doc_.Release(next);
      } else {
        dropper_.StartChildren(next, nullptr, true);
        dropping_ = true;
        dropped_ = next;
      }
    }
  }

  // The text of the BODY that is walked and released is never looked at again: from the BODY's
  // content up to its first child still in the tree (or the tokenizer, when it has none).
  void DiscardWalkedText() {
    const CMarkupNode* pending = body_->firstChild;
    doc_.DiscardText(body_->contentStart, pending ? doc_.EarliestPosition(pending) : doc_.Position());
  }

  CSubtitleState& state_;
  CCaptionDocument& doc_;
  const int bodyToWalk_;
  const std::vector<std::string>* presetSheets_;
  const CMarkupNode* sami_ = nullptr;
  // The last child of the SAMI element that stays (a HEAD, or the BODY walked); the children
  // after it are still to be handled.
  const CMarkupNode* kept_ = nullptr;
  std::vector<const CMarkupNode*> heads_;
  int bodies_ = 0;  // BODY children of the SAMI element met so far
  std::vector<std::string> usedSheets_;
  std::vector<std::string> finalSheets_;
  ElementWalker walker_;   // the BODY being read
  bool walking_ = false;
  const CMarkupNode* body_ = nullptr;
  ElementWalker dropper_;  // releases an element that plays no part while it grows
  bool dropping_ = false;
  const CMarkupNode* dropped_ = nullptr;
};

// The reading of a whole tree, for the self-check: the file's tree is built first, then its
// HEADs and its last BODY are read.
bool ParseSamiWholeTree(CSubtitleState& state, const std::string& path, bool headerOnly) {
  CCaptionDocument& doc = state.Document();
  if (!doc.LoadFile(path)) return false;
  const CMarkupNode* sami = doc.Root()->firstChild;
  if (!sami || !IsElementNamed(sami, "SAMI")) return false;
  std::vector<const CMarkupNode*> heads;
  const CMarkupNode* body = nullptr;
  for (const CMarkupNode* child = sami->firstChild; child; child = child->nextSibling) {
    if (IsElementNamed(child, "HEAD")) heads.push_back(child);
    if (IsElementNamed(child, "BODY")) body = child;
  }
  ApplySheets(state, HeadSheets(doc, heads));
  if (!body) return false;
  if (headerOnly) return true;
  return WalkElements(state, body->firstChild, nullptr, ParagraphStyle(state));
}

bool ParseSamiStreaming(CSubtitleState& state, const std::string& path, bool headerOnly) {
  // The first bytes tell most other files apart before the whole text is taken over.
  std::string start;
  if (!PeekSubtitleText(path, 4096, &start) || !MayBeginWithTag(start)) return false;
  CCaptionDocument& doc = state.Document();
  if (!doc.StartFile(path)) return false;
  SamiPass first(state, headerOnly ? 0 : 1, nullptr);
  SamiPass::Outcome outcome = first.Run();
  if (outcome == SamiPass::Outcome::kReadAgain) {
    // The first pass gave back the text it had read; the file is read again.
    state.ResetForNextReader();
    const std::vector<std::string> sheets = first.FinalSheets();
    if (!doc.StartFile(path)) return false;
    SamiPass second(state, first.Bodies(), &sheets);
    outcome = second.Run();
  }
  // The captions hold their own text: the document is not needed any more.
  doc.Clear();
  return outcome == SamiPass::Outcome::kRead;
}

// Whether two readings left the same result behind: styles (by value and position), languages,
// size classes, the selection and every entry.
bool SameReading(const CSubtitleState& a, const CSubtitleState& b) {
  auto indexer = [](const CSubtitleState& s) {
    std::unordered_map<const CCaptionStyle*, long> index;
    index[&s.DefaultStyle()] = -1;
    index[nullptr] = -2;
    for (size_t i = 0; i < s.AllStyles().size(); ++i) index[s.AllStyles()[i].get()] = long(i);
    return index;
  };
  auto ia = indexer(a), ib = indexer(b);
  auto same = [&](const CCaptionStyle* x, const CCaptionStyle* y) { return ia.at(x) == ib.at(y); };
  auto sameStyle = [](const CCaptionStyle& x, const CCaptionStyle& y) {
    return x.selector == y.selector && x.kind == y.kind && x.flags == y.flags && x.name == y.name && x.lang == y.lang &&
           x.samiType == y.samiType && x.marginLeft == y.marginLeft && x.marginRight == y.marginRight &&
           x.marginTop == y.marginTop && x.marginBottom == y.marginBottom && x.textAlign == y.textAlign &&
           x.fontFamily == y.fontFamily && x.fontSize == y.fontSize && x.bold == y.bold && x.italic == y.italic &&
           x.color == y.color && x.backgroundColor == y.backgroundColor;
  };
  auto sameList = [&](const EntryList& x, const EntryList& y) {
    if (x.size() != y.size()) return false;
    for (size_t i = 0; i < x.size(); ++i) {
      if (x[i]->Start() != y[i]->Start() || x[i]->Runs().size() != y[i]->Runs().size()) return false;
      for (size_t r = 0; r < x[i]->Runs().size(); ++r) {
        const CTextRun& p = x[i]->Runs()[r];
        const CTextRun& q = y[i]->Runs()[r];
        if (p.text != q.text || !same(p.style, q.style)) return false;
      }
    }
    return true;
  };
  auto sameRefs = [&](const std::vector<const CCaptionStyle*>& x, const std::vector<const CCaptionStyle*>& y) {
    if (x.size() != y.size()) return false;
    for (size_t i = 0; i < x.size(); ++i) {
      if (!same(x[i], y[i])) return false;
    }
    return true;
  };
  if (a.AllStyles().size() != b.AllStyles().size()) return false;
  for (size_t i = 0; i < a.AllStyles().size(); ++i) {
    if (!sameStyle(*a.AllStyles()[i], *b.AllStyles()[i])) return false;
  }
  if (!sameRefs(a.Languages(), b.Languages()) || !sameRefs(a.Identifiers(), b.Identifiers())) return false;
  if (!same(a.CurrentLanguage(), b.CurrentLanguage()) || !same(a.CurrentSize(), b.CurrentSize())) return false;
  if (a.LanguageCount() != b.LanguageCount() || !sameList(a.DefaultEntries(), b.DefaultEntries())) return false;
  for (int i = 0; i < a.LanguageCount(); ++i) {
    if (!sameList(a.LanguageTable()[size_t(i)].entries, b.LanguageTable()[size_t(i)].entries)) return false;
  }
  return true;
}

}  // namespace

bool ParseSamiFile(CSubtitleState& state, const std::string& path, bool headerOnly) {
  const ScopedSubtitleTextCache readOnce;
  // Self-check: a small file is also read from its whole tree, and both readings must agree.
  std::unique_ptr<CSubtitleState> reference;
  bool referenceResult = false;
  if (SelfCheck()) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && st.st_size <= off_t(kSelfCheckMaxBytes)) {
      reference = std::make_unique<CSubtitleState>();
      referenceResult = ParseSamiWholeTree(*reference, path, headerOnly);
    }
  }
  const bool result = ParseSamiStreaming(state, path, headerOnly);
  if (reference && (result != referenceResult || (result && !SameReading(state, *reference)))) {
    SelfCheckFailed("streaming SAMI reader");
  }
  return result;
}

bool ParseStyleSheet(CSubtitleState& state, std::string_view text) {
  RegexMatch rule;
  size_t pos = 0;
  while (pos < text.size() && FindStyleRule(text, pos, &rule)) {
    pos = rule.End(0);
    std::string_view selector = rule.Group(1);
    int kind = CCaptionStyle::kElement;
    if (selector[0] == '.') {
      kind = CCaptionStyle::kClass;
      selector.remove_prefix(1);
    } else if (selector[0] == '#') {
      kind = CCaptionStyle::kIdentifier;
      selector.remove_prefix(1);
    }
    auto style = std::make_unique<CCaptionStyle>(std::string(selector), kind);
    std::string_view body = rule.Group(2);
    RegexMatch decl;
    size_t at = 0;
    while (at < body.size() && FindDeclaration(body, at, &decl)) {
      at = decl.End(0);
      style->SetProperty(decl.Group(1), decl.Group(2));
    }
    const CCaptionStyle* added = state.AddStyle(std::move(style));
    if (!added->samiType.empty()) state.AddLanguage(added);
    if (added->kind == CCaptionStyle::kIdentifier) state.AddIdentifier(added);
  }
  return true;
}

bool WalkElements(CSubtitleState& state, const CMarkupNode* first, CCaptionEntry* entry,
                  const CCaptionStyle* style, const WalkOptions& options) {
  ElementWalker(state, options, false).WalkSiblings(first, entry, style);
  return true;
}

}  // namespace captionparser
