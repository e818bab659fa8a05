#include "libs/captionparser/samireader.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "libs/captionparser/captiondocument.h"
#include "libs/captionparser/captionentry.h"
#include "libs/captionparser/captionstyle.h"
#include "libs/captionparser/patterns.h"
#include "libs/captionparser/subtitlestate.h"
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

// A STYLE element's sheet is the text of its first child that is not blank: the comment that
// hides it from old browsers, or plain text.
void ReadStyleElement(CSubtitleState& state, const CMarkupNode* styleElement) {
  CCaptionDocument& doc = state.Document();
  for (const CMarkupNode* child = styleElement->firstChild; child; child = child->nextSibling) {
    std::string_view sheet = TrimEdgeSpace(doc.Text(child));
    if (!sheet.empty()) {
      ParseStyleSheet(state, sheet);
      return;
    }
  }
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
    if (sync->attributes[size_t(i)].type != CMarkupAttribute::kInteger) continue;
    *start = LONGLONG(CCaptionDocument::AttributeInteger(sync, i)) * kUnitsPerSecond / 1000;
    return true;
  }
  return false;
}

}  // namespace

bool ParseSamiFile(CSubtitleState& state, const std::string& path, bool headerOnly) {
  CCaptionDocument& doc = state.Document();
  if (!doc.LoadFile(path)) return false;
  const CMarkupNode* sami = doc.Root()->firstChild;
  if (!sami || !IsElementNamed(sami, "SAMI")) return false;

  const CMarkupNode* body = nullptr;
  for (const CMarkupNode* child = sami->firstChild; child; child = child->nextSibling) {
    if (IsElementNamed(child, "HEAD")) {
      for (const CMarkupNode* h = child->firstChild; h; h = h->nextSibling) {
        if (IsElementNamed(h, "STYLE")) ReadStyleElement(state, h);
      }
    } else if (IsElementNamed(child, "BODY")) {
      body = child;
    }
  }
  if (!state.Languages().empty()) state.SetCurrentLanguage(state.Languages().front());
  if (!state.Identifiers().empty()) state.SetCurrentSize(state.Identifiers().front());
  if (!body) return false;
  if (headerOnly) return true;
  return WalkElements(state, body->firstChild, nullptr, ParagraphStyle(state));
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
  // One frame per sibling chain being walked. A SYNC's frame owns the entry it fills; the
  // entry is filed when the SYNC's children are done, under the language in force then.
  // A SYNC may hold paragraphs of several languages: its entry belongs to the language of its
  // first paragraph with a language class, and a paragraph of another language files the text
  // so far under its own language and starts a new entry at the same time.
  struct Frame {
    const CMarkupNode* next;
    CCaptionEntry* entry;
    const CCaptionStyle* style;
    std::unique_ptr<CCaptionEntry> syncEntry;
    const CCaptionStyle* syncLanguage = nullptr;  // SYNC frames: the entry's language, once known
  };
  CCaptionDocument& doc = state.Document();
  std::vector<Frame> stack;
  stack.push_back({first, entry, style, nullptr, nullptr});
  // A paragraph of `language` inside the SYNC whose entry is `e`: the entry to fill from now on.
  auto splitByLanguage = [&](CCaptionEntry* e, const CCaptionStyle* language) -> CCaptionEntry* {
    auto sync = std::find_if(stack.rbegin(), stack.rend(), [e](const Frame& f) { return f.syncEntry.get() == e; });
    if (sync == stack.rend()) return e;
    if (!sync->syncLanguage || sync->syncLanguage == language || e->Runs().empty()) {
      sync->syncLanguage = language;
      return e;
    }
    auto next = std::make_unique<CCaptionEntry>(e->Start());
    CCaptionEntry* raw = next.get();
    state.FileEntryAs(sync->syncLanguage, std::move(sync->syncEntry));
    sync->syncEntry = std::move(next);
    sync->syncLanguage = language;
    for (auto f = stack.rbegin(); f != stack.rend(); ++f) {
      if (f->entry == e) f->entry = raw;
    }
    return raw;
  };
  while (!stack.empty()) {
    Frame& frame = stack.back();
    const CMarkupNode* node = frame.next;
    if (!node) {
      std::unique_ptr<CCaptionEntry> done = std::move(frame.syncEntry);
      stack.pop_back();
      if (done) state.FileEntry(std::move(done));
      continue;
    }
    frame.next = node->nextSibling;
    CCaptionEntry* e = frame.entry;
    const CCaptionStyle* s = frame.style;
    // `frame` may move from here on: the stack grows.

    if (IsElementNamed(node, "SYNC")) {
      REFERENCE_TIME start = 0;
      if (SyncStart(doc, node, &start)) {
        auto syncEntry = std::make_unique<CCaptionEntry>(start);
        CCaptionEntry* raw = syncEntry.get();
        stack.push_back({node->firstChild, raw, ParagraphStyle(state), std::move(syncEntry), nullptr});
      }
    } else if (IsElementNamed(node, "P")) {
      const CCaptionStyle* language = nullptr;
      const CCaptionStyle* ps = ApplyParagraphClasses(state, node, s, &language);
      if (language && e) e = splitByLanguage(e, language);
      if (node->firstChild) stack.push_back({node->firstChild, e, ps, nullptr, nullptr});
    } else if (node->tagId == kTagContent) {
      if (e) e->AddRun(doc.Text(node), s);
    } else if (IsElementNamed(node, "BR")) {
      if (e) e->AddRun("\n", s);
    } else if (IsElementNamed(node, "I")) {
      if (node->firstChild) {
        const CCaptionStyle* italic = DeriveStyle(state, s, [](CCaptionStyle& d) {
          d.italic = true;
          d.flags |= CCaptionStyle::kItalic;
        });
        stack.push_back({node->firstChild, e, italic, nullptr, nullptr});
      }
    } else if (IsElementNamed(node, "B")) {
      if (node->firstChild) {
        const CCaptionStyle* bold = DeriveStyle(state, s, [](CCaptionStyle& d) {
          d.bold = true;
          d.flags |= CCaptionStyle::kBold;
        });
        stack.push_back({node->firstChild, e, bold, nullptr, nullptr});
      }
    } else if (IsElementNamed(node, "FONT")) {
      const CCaptionStyle* fs = s;
      for (int i = 0; i < CCaptionDocument::AttributeCount(node); ++i) {
        const std::string_view name = doc.AttributeName(node, i);
        if (options.fontColor && EqualsNoCase(name, "color")) {
          std::string_view color = doc.AttributeText(node, i);
          fs = DeriveStyle(state, fs, [color](CCaptionStyle& d) { d.SetProperty("color", color); });
          continue;
        }
        if (!EqualsNoCase(name, "face")) continue;
        std::string_view face = doc.AttributeText(node, i);
        fs = DeriveStyle(state, fs, [face](CCaptionStyle& d) {
          d.fontFamily = face;
          d.flags |= CCaptionStyle::kFontFamily;
        });
      }
      if (node->firstChild) stack.push_back({node->firstChild, e, fs, nullptr, nullptr});
    } else if (node->firstChild) {
      // Comments, unknown elements, HEAD and the like are transparent.
      stack.push_back({node->firstChild, e, s, nullptr, nullptr});
    }
  }
  return true;
}

}  // namespace captionparser
