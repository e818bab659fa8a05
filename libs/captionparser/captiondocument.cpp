#include "libs/captionparser/captiondocument.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstring>

#include "libs/captionparser/patterns.h"
#include "libs/captionparser/subtitletext.h"
#include "libs/captionparser/textutil.h"

namespace captionparser {

namespace {

constexpr std::string_view kDocumentName = "TAG_DOCUMENT";
constexpr std::string_view kContentName = "TAG_CONTENT";
constexpr std::string_view kCommentName = "TAG_COMMENT";

struct KnownTag {
  std::string_view name;
  bool container;
};

// Row r has the tag id kTagSync + r.
constexpr KnownTag kKnownTags[] = {
    {"SYNC", true}, {"META", false}, {"BR", false}, {"HR", false}, {"FONT", true},
};

int KnownRow(std::string_view name) {
  for (int r = 0; r < int(std::size(kKnownTags)); ++r) {
    if (EqualsNoCase(name, kKnownTags[r].name)) return r;
  }
  return -1;
}

}  // namespace

// --- loading -------------------------------------------------------------------------------------

namespace {

// Joins the lines of text where it stands: each line's edge white space shrinks to one space
// at that edge, and the line breaks themselves go. A line ends at LF or CR LF.
void JoinLinesInPlace(std::string& text) {
  char* d = text.data();
  const size_t n = text.size();
  size_t w = 0;
  size_t pos = 0;
  while (pos < n) {
    const size_t lf = text.find('\n', pos);
    size_t end = lf == std::string::npos ? n : lf;
    const size_t next = lf == std::string::npos ? n : lf + 1;
    if (lf != std::string::npos && end > pos && d[end - 1] == '\r') --end;
    size_t b = pos;
    while (b < end && IsEdgeSpace(d[b])) ++b;
    size_t e = end;
    while (e > b && IsEdgeSpace(d[e - 1])) --e;
    // The output of a line is never longer than the line, so it never overtakes the reading.
    if (b > pos) d[w++] = ' ';
    std::memmove(d + w, d + b, e - b);
    w += e - b;
    if (e < end && e > b) d[w++] = ' ';
    pos = next;
  }
  text.resize(w);
}

}  // namespace

void CCaptionDocument::Clear() {
  // Gives the memory back, not only the contents: a document may have held a large file.
  path_.clear();
  buffer_ = std::string();
  nodes_ = std::deque<CMarkupNode>();
  freeNodes_ = std::vector<CMarkupNode*>();
  attributes_ = std::vector<CMarkupAttribute>();
  liveAttributes_ = 0;
  anyReleased_ = false;
  discardedTo_ = 0;
  root_ = nullptr;
  current_ = nullptr;
  pos_ = 0;
  finished_ = false;
  tokenizedToEnd_ = true;
  tagNames_.clear();
  tagNameIndex_.clear();
  openByTag_ = std::vector<std::vector<OpenEntry>>();
  entryRecords_ = std::vector<EntryRecord>();
}

bool CCaptionDocument::LoadFile(const std::string& path) {
  Clear();
  std::string text;
  if (!ReadSubtitleText(path, &text)) return false;
  path_ = path;
  JoinLinesInPlace(text);
  buffer_ = std::move(text);
  StartTree();
  tokenizedToEnd_ = Tokenize();
  return true;
}

bool CCaptionDocument::StartFile(const std::string& path) {
  Clear();
  std::string text;
  if (!TakeSubtitleText(path, &text)) return false;
  path_ = path;
  JoinLinesInPlace(text);
  buffer_ = std::move(text);
  StartTree();
  return true;
}

bool CCaptionDocument::LoadText(std::string_view text) {
  Clear();
  buffer_.assign(text);
  StartTree();
  tokenizedToEnd_ = Tokenize();
  return true;
}

void CCaptionDocument::StartTree() {
  root_ = NewNode(kTagDocument, kDocumentName, 0, std::ptrdiff_t(buffer_.size()));
  root_->onChain_ = true;
  current_ = root_;
  pos_ = 0;
  finished_ = false;
  tokenizedToEnd_ = true;
}

CMarkupNode* CCaptionDocument::NewNode(int tagId, std::string_view name, size_t contentStart,
                                       std::ptrdiff_t contentLength) {
  CMarkupNode* node;
  if (!freeNodes_.empty()) {
    node = freeNodes_.back();
    freeNodes_.pop_back();
    *node = CMarkupNode{};
  } else {
    node = &nodes_.emplace_back();
  }
  node->tagId = tagId;
  node->name = name;
  node->contentStart = uint32_t(contentStart);
  node->contentLength = int32_t(contentLength);
  return node;
}

// --- releasing what a reader has walked ----------------------------------------------------------

void CCaptionDocument::Release(const CMarkupNode* released) {
  CMarkupNode* node = const_cast<CMarkupNode*>(released);
  CMarkupNode* parent = node->parent;
  if (node->prevSibling) {
    node->prevSibling->nextSibling = node->nextSibling;
  } else {
    parent->firstChild = node->nextSibling;
  }
  if (node->nextSibling) {
    node->nextSibling->prevSibling = node->prevSibling;
  } else {
    parent->lastChild = node->prevSibling;
  }
  node->nextSibling = node->prevSibling = nullptr;
  anyReleased_ = true;
  // Free the descendants, deepest first, without recursion. None of them is pinned: their
  // parents are closed, and entries for closed levels are gone.
  CMarkupNode* n = node->firstChild;
  node->firstChild = node->lastChild = nullptr;
  while (n) {
    if (CMarkupNode* child = n->firstChild) {
      n->firstChild = nullptr;
      n = child;
      continue;
    }
    CMarkupNode* next = n->nextSibling ? n->nextSibling : (n->parent != node ? n->parent : nullptr);
    n->released_ = true;
    if (!n->pinned_) Free(n);
    n = next;
  }
  // A pinned node keeps its parent link: a closing tag that finds it makes the parent current.
  node->released_ = true;
  if (!node->pinned_) Free(node);
}

void CCaptionDocument::Free(CMarkupNode* node) {
  liveAttributes_ -= node->attributeCount;
  node->attributeCount = 0;
  node->parent = nullptr;
  freeNodes_.push_back(node);
}

void CCaptionDocument::Unpin(CMarkupNode* node) {
  node->pinned_ = false;
  if (node->released_) Free(node);
}

size_t CCaptionDocument::EarliestPosition(const CMarkupNode* node) const {
  const char* name = node->name.data();
  if (name >= buffer_.data() && name < buffer_.data() + buffer_.size()) {
    return std::min(size_t(name - buffer_.data()), size_t(node->contentStart));
  }
  return node->contentStart;
}

void CCaptionDocument::DiscardText(size_t from, size_t to) {
  static const size_t kPage = size_t(sysconf(_SC_PAGESIZE));
  // Small pieces are not worth a system call each; they go with the next larger one.
  constexpr size_t kMinDiscardBytes = 1 << 20;
  from = std::max(from, discardedTo_);
  to = std::min(to, buffer_.size());
  const uintptr_t base = reinterpret_cast<uintptr_t>(buffer_.data());
  const uintptr_t first = (base + from + kPage - 1) / kPage * kPage;
  const uintptr_t last = (base + to) / kPage * kPage;
  if (last <= first || last - first < kMinDiscardBytes) return;
  // The pages lie inside the buffer's own allocation, away from the allocator's bookkeeping at
  // either end; once given back they read as zeros, and nothing reads them again.
  if (madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED) == 0) discardedTo_ = last - base;
}

// Attributes of released nodes leave holes in the shared list; once the holes outweigh what is
// still used, the list is rebuilt from the nodes that have attributes.
void CCaptionDocument::CompactAttributes() {
  if (!anyReleased_ || attributes_.size() < 2 * liveAttributes_ + nodes_.size() / 2 + 65536) return;
  std::vector<CMarkupAttribute> kept;
  kept.reserve(liveAttributes_);
  for (CMarkupNode& node : nodes_) {
    if (node.attributeCount == 0) continue;
    const size_t first = node.firstAttribute;
    node.firstAttribute = uint32_t(kept.size());
    kept.insert(kept.end(), attributes_.begin() + std::ptrdiff_t(first),
                attributes_.begin() + std::ptrdiff_t(first + node.attributeCount));
  }
  attributes_ = std::move(kept);
}

// --- tokenizing ----------------------------------------------------------------------------------

bool CCaptionDocument::Tokenize() {
  while (Step()) {
  }
  return tokenizedToEnd_;
}

bool CCaptionDocument::Step() {
  if (finished_) return false;
  std::string_view text(buffer_);
  const size_t p = pos_;
  if (p >= text.size()) {
    finished_ = true;
    return false;
  }
  CompactAttributes();
  RegexMatch m;
  if (!FindTag(text, p, &m)) {
    // Text after the last tag becomes a last content node, so that a file cut short after
    // its last caption's text keeps that text.
    Append(NewNode(kTagContent, kContentName, p, std::ptrdiff_t(text.size() - p)));
    pos_ = text.size();
    return true;
  }
  size_t tagStart = m.Start(0);
  size_t tagEnd = m.End(0);
  if (tagStart > p) Append(NewNode(kTagContent, kContentName, p, std::ptrdiff_t(tagStart - p)));

  bool closing = m.Length(1) > 0;
  std::string_view name = m.Group(2);
  int row = KnownRow(name);
  if (!closing || (row >= 0 && !kKnownTags[row].container)) {
    // An opening tag; a closing BR, HR or META counts as one.
    CMarkupNode* node = BuildElement(name, m.Start(3), m.Length(3), tagEnd);
    if (node->tagId == kTagUndetermined || node->tagId >= kFirstRegisteredTag) {
      node->tagId = RegisterName(name);
    }
    bool container = node->contentLength == CMarkupNode::kOpen;
    if (container && current_->parent) {
      if (CMarkupNode* open = FindOpen(node->tagId)) CloseAt(open, tagEnd);
    }
    Append(node);
  } else {
    int tagId = LookUpClosingName(name);
    CMarkupNode* open = tagId == kTagUndetermined ? nullptr : FindOpen(tagId);
    if (!open) {
      tokenizedToEnd_ = false;
      finished_ = true;
      return false;
    }
    CloseAt(open, tagStart);
  }
  pos_ = tagEnd;
  return true;
}

CMarkupNode* CCaptionDocument::BuildElement(std::string_view name, size_t attrStart, size_t attrLength,
                                            size_t contentStart) {
  if (name == "!" && attrLength > 0) {
    // A comment: its content is the text between the first "--" and the next one.
    std::string_view attrText = std::string_view(buffer_).substr(attrStart, attrLength);
    RegexMatch m;
    if (Patterns().commentBody.Search(attrText, 0, &m)) {
      return NewNode(kTagComment, kCommentName, attrStart + m.Start(1), std::ptrdiff_t(m.Length(1)));
    }
    return NewNode(kTagComment, kCommentName, contentStart, 0);
  }
  int row = KnownRow(name);
  CMarkupNode* node;
  if (row >= 0) {
    node = NewNode(kTagSync + row, name, contentStart, kKnownTags[row].container ? CMarkupNode::kOpen : 0);
  } else {
    node = NewNode(kTagUndetermined, name, contentStart, CMarkupNode::kOpen);
  }
  ParseAttributes(node, attrStart, attrLength);
  return node;
}

void CCaptionDocument::ParseAttributes(CMarkupNode* node, size_t attrStart, size_t attrLength) {
  std::string_view attrText = std::string_view(buffer_).substr(attrStart, attrLength);
  const CaptionPatterns& patterns = Patterns();
  RegexMatch m;
  size_t pos = 0;
  while (pos < attrText.size() && FindAttribute(attrText, pos, &m)) {
    pos = m.End(0);
    int valueGroup = m.Length(4) > 0 ? 4 : 6;
    std::string_view value = m.Group(valueGroup);
    CMarkupAttribute attr;
    attr.nameStart = uint32_t(attrStart + m.Start(1));
    attr.nameLength = uint32_t(m.Length(1));
    attr.valueStart = uint32_t(attrStart + m.Start(valueGroup));
    if (patterns.integerValue.Test(value)) {
      attr.type = CMarkupAttribute::kInteger;
      attr.intValue = ParseDigits(value);
    } else if (patterns.realValue.Test(value)) {
      attr.type = CMarkupAttribute::kReal;
      // Reads the leading number ("12a" is 12), independent of the locale.
      std::from_chars(value.data(), value.data() + value.size(), attr.realValue);
    } else if (patterns.booleanValue.Test(value)) {
      attr.type = CMarkupAttribute::kBoolean;
      attr.boolValue = EqualsNoCase(value, "true");
    } else {
      attr.type = CMarkupAttribute::kString;
      attr.valueLength = uint32_t(value.size());
    }
    if (node->attributeCount == 0) node->firstAttribute = uint32_t(attributes_.size());
    attributes_.push_back(attr);
    ++node->attributeCount;
    ++liveAttributes_;
  }
}

int CCaptionDocument::RegisterName(std::string_view name) {
  auto [it, added] = tagNameIndex_.emplace(AsciiLower(name), int(tagNames_.size()));
  if (added) tagNames_.emplace_back(name);
  return kFirstRegisteredTag + it->second;
}

int CCaptionDocument::LookUpClosingName(std::string_view name) const {
  int row = KnownRow(name);
  if (row >= 0) return kTagSync + row;
  auto it = tagNameIndex_.find(AsciiLower(name));
  return it == tagNameIndex_.end() ? kTagUndetermined : kFirstRegisteredTag + it->second;
}

// --- the tree and the search for open elements ---------------------------------------------------
//
// The current node and each of its ancestors is always the last child of its parent: nodes
// are only appended to the current node, and the current node only moves down to a node just
// appended or up to an ancestor. The literal search (the current node and its previous
// siblings, then the parent and its previous siblings, ...) therefore looks at all children of
// each strict ancestor of the current node, deepest first, and finds the latest child with the
// tag id at the deepest such level. openByTag_ keeps, per tag id, one entry for each level of
// the current chain that has such a child; the entries of a level go when it leaves the chain.
// The child an entry names is pinned: a reader may hand it back, but it stays allocated while
// a closing tag can still find it.

int CCaptionDocument::SlotFor(int tagId) {
  size_t slot;
  if (tagId >= kFirstRegisteredTag) {
    slot = 5 + size_t(tagId - kFirstRegisteredTag);
  } else if (tagId >= kTagSync && tagId <= kTagFont) {
    slot = size_t(tagId - kTagSync);
  } else {
    return -1;
  }
  if (slot >= openByTag_.size()) openByTag_.resize(slot + 1);
  return int(slot);
}

void CCaptionDocument::Append(CMarkupNode* node) {
  node->parent = current_;
  node->depth = current_->depth + 1;
  node->prevSibling = current_->lastChild;
  if (current_->lastChild) {
    current_->lastChild->nextSibling = node;
  } else {
    current_->firstChild = node;
  }
  current_->lastChild = node;

  if (node->contentLength != CMarkupNode::kOpen) return;  // content, comment or empty element
  const int slot = SlotFor(node->tagId);
  std::vector<OpenEntry>& entries = openByTag_[size_t(slot)];
  if (!entries.empty() && entries.back().level == current_) {
    Unpin(entries.back().child);
    entries.back().child = node;
  } else {
    entries.push_back({current_, node});
    entryRecords_.push_back({current_->depth, uint32_t(slot)});
  }
  node->pinned_ = true;
  node->onChain_ = true;
  current_ = node;
}

CMarkupNode* CCaptionDocument::FindOpen(int tagId) {
  CMarkupNode* found = nullptr;
  if (const int slot = SlotFor(tagId); slot >= 0) {
    const std::vector<OpenEntry>& entries = openByTag_[size_t(slot)];
    size_t n = entries.size();
    // The current node's own children are not searched.
    if (n > 0 && entries[n - 1].level == current_) --n;
    if (n > 0) found = entries[n - 1].child;
  }
  // Once nodes were released the sibling chains are incomplete, and the literal walk with them.
  if (SelfCheck() && !anyReleased_ && buffer_.size() <= kSelfCheckMaxBytes && found != FindOpenLiteral(tagId)) {
    SelfCheckFailed("open element search");
  }
  return found;
}

CMarkupNode* CCaptionDocument::FindOpenLiteral(int tagId) const {
  for (CMarkupNode* level = current_; level && level->parent; level = level->parent) {
    for (CMarkupNode* n = level; n; n = n->prevSibling) {
      if (n->tagId == tagId) return n;
    }
  }
  return nullptr;
}

void CCaptionDocument::CloseAt(CMarkupNode* element, size_t contentEnd) {
  element->contentLength = int32_t(std::ptrdiff_t(contentEnd) - std::ptrdiff_t(element->contentStart));
  CMarkupNode* parent = element->parent;
  for (CMarkupNode* n = current_; n != parent; n = n->parent) n->onChain_ = false;
  current_ = parent;
  while (!entryRecords_.empty() && entryRecords_.back().depth > parent->depth) {
    std::vector<OpenEntry>& entries = openByTag_[entryRecords_.back().slot];
    Unpin(entries.back().child);
    entries.pop_back();
    entryRecords_.pop_back();
  }
}

// --- navigation ----------------------------------------------------------------------------------

std::string_view CCaptionDocument::AttributeName(const CMarkupNode* node, int index) const {
  if (index < 0 || index >= AttributeCount(node)) return {};
  const CMarkupAttribute& a = Attribute(node, index);
  return std::string_view(buffer_).substr(a.nameStart, a.nameLength);
}

std::string_view CCaptionDocument::AttributeText(const CMarkupNode* node, int index) const {
  if (index < 0 || index >= AttributeCount(node)) return {};
  const CMarkupAttribute& a = Attribute(node, index);
  if (a.type != CMarkupAttribute::kString) return {};
  return std::string_view(buffer_).substr(a.valueStart, a.valueLength);
}

int CCaptionDocument::AttributeInteger(const CMarkupNode* node, int index) const {
  if (index < 0 || index >= AttributeCount(node)) return 0;
  const CMarkupAttribute& a = Attribute(node, index);
  return a.type == CMarkupAttribute::kInteger ? a.intValue : 0;
}

std::string_view CCaptionDocument::Text(const CMarkupNode* node) const {
  while (node && node->contentLength == CMarkupNode::kOpen) node = node->parent;
  if (!node || node->contentLength <= 0) return {};
  return std::string_view(buffer_).substr(node->contentStart, size_t(node->contentLength));
}

}  // namespace captionparser
