// The mark-up document of a subtitle file: the text buffer and the node tree that a tolerant
// tag tokenizer builds over it. Tags need not be closed: a new SYNC or P closes the open one of
// the same name, and a closing tag closes the nearest open element of its name.
//
// Nodes live in the document and are linked by plain pointers, so a tree of any depth is
// built and dropped without recursion.
//
// A large file need not be held as a whole tree: StartFile and Step tokenize it one tag at a
// time, and a reader walks what is complete and hands it back with Release, so only the open
// elements and what the reader has not walked yet stay in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace captionparser {

// Tag ids of the node kinds and of the known tags.
enum TagId : int {
  kTagUndetermined = -1,
  kTagDocument = 0,  // the root
  kTagContent = 1,   // text between tags
  kTagComment = 2,
  kTagSync = 100,
  kTagMeta = 101,
  kTagBr = 102,
  kTagHr = 103,
  kTagFont = 104,
  kFirstRegisteredTag = 100000,  // + index in the document's registry of other names
};

// Positions are 32-bit: subtitle files are refused long before 4 GB (subtitletext.h).
struct CMarkupAttribute {
  enum Type : uint8_t { kInteger = 1, kReal = 2, kBoolean = 3, kString = 4 };

  Type type = kString;
  bool boolValue = false;
  uint32_t nameStart = 0;  // in the document's buffer
  uint32_t nameLength = 0;
  uint32_t valueLength = 0;  // string type only
  // The value of the attribute's type: integer, real, boolean (above), or the buffer position
  // of the text of a string value.
  int intValue = 0;
  uint32_t valueStart = 0;
  double realValue = 0.0;
};

// Kept small (a large file has a node for every dozen bytes or so): positions are 32-bit, as
// for attributes.
struct CMarkupNode {
  static constexpr int32_t kOpen = -1;

  int tagId = kTagUndetermined;
  uint32_t contentStart = 0;
  int32_t contentLength = 0;  // kOpen while an element's end is not known
  uint32_t depth = 0;         // the root is 0
  std::string_view name;  // "TAG_DOCUMENT", "TAG_CONTENT", "TAG_COMMENT" or the name as written
  CMarkupNode* parent = nullptr;
  CMarkupNode* firstChild = nullptr;
  CMarkupNode* lastChild = nullptr;
  CMarkupNode* nextSibling = nullptr;
  CMarkupNode* prevSibling = nullptr;
  // The node's attributes: a range of the document's attribute list (CCaptionDocument::Attribute).
  uint32_t firstAttribute = 0;
  uint32_t attributeCount : 29 = 0;

 private:
  friend class CCaptionDocument;
  bool onChain_ : 1 = false;   // the tokenizer's current node or one of its ancestors
  bool pinned_ : 1 = false;    // the latest child of its tag under an open element: a closing
                               // tag may still find it
  bool released_ : 1 = false;  // handed back by the reader; freed once no longer pinned
};

class CCaptionDocument {
 public:
  CCaptionDocument() = default;
  CCaptionDocument(const CCaptionDocument&) = delete;
  CCaptionDocument& operator=(const CCaptionDocument&) = delete;

  // Reads a text file (decoded by the platform: byte-order marks, UTF-8, legacy code page),
  // joining its lines: white space at a line's edges shrinks to one space, and a line break
  // itself adds nothing. False when the file cannot be read; the document is then empty.
  bool LoadFile(const std::string& path);
  // Tokenizes the text as it is. Always succeeds.
  bool LoadText(std::string_view text);
  // Reads a file as LoadFile does but tokenizes nothing yet: Step does, one tag at a time.
  // The decoded text is taken over rather than copied.
  bool StartFile(const std::string& path);
  // Tokenizes up to and including the next tag (or the text after the last one). False, with
  // nothing done, once the text is finished or tokenizing stopped at a closing tag that closes
  // nothing; every element still open then counts as complete.
  bool Step();
  // An element is complete once no further child can be appended to it: it was closed, or an
  // ancestor was, or tokenizing is over. Text, comments and empty elements are complete at once.
  bool IsComplete(const CMarkupNode* node) const { return !node->onChain_ || finished_; }
  // Drops a complete node that a reader is done with, with everything below it; its parent's
  // other children close up around the gap.
  void Release(const CMarkupNode* node);
  // Where Step goes on: everything before it is tokenized.
  size_t Position() const { return pos_; }
  // The first position of the buffer that a node refers to (its name or its content).
  size_t EarliestPosition(const CMarkupNode* node) const;
  // A reader that will never look at [from, to) of the text again (nor at nodes there) gives
  // the memory of the whole pages inside it back to the system. The text there reads as zero
  // bytes afterwards, so the document cannot be tokenized again: a reader that needs another
  // pass loads the file again.
  void DiscardText(size_t from, size_t to);
  // Drops the nodes, the buffer, the path and the tag-name registry.
  void Clear();

  // False when the last load stopped at a closing tag that closes nothing (the nodes built
  // before it stay).
  bool TokenizedToEnd() const { return tokenizedToEnd_; }
  const std::string& Path() const { return path_; }
  const std::string& Buffer() const { return buffer_; }
  // Names that are not known tags, in order of first appearance.
  const std::vector<std::string>& TagNames() const { return tagNames_; }

  // Navigation.
  const CMarkupNode* Root() const { return root_; }
  static const CMarkupNode* FirstChild(const CMarkupNode* node) { return node->firstChild; }
  static const CMarkupNode* NextSibling(const CMarkupNode* node) { return node->nextSibling; }
  static std::string_view Name(const CMarkupNode* node) { return node->name; }
  static int TagIdOf(const CMarkupNode* node) { return node->tagId; }
  static int AttributeCount(const CMarkupNode* node) { return int(node->attributeCount); }
  const CMarkupAttribute& Attribute(const CMarkupNode* node, int index) const {
    return attributes_[node->firstAttribute + size_t(index)];
  }
  std::string_view AttributeName(const CMarkupNode* node, int index) const;
  // The value text of a string attribute; empty for the other types.
  std::string_view AttributeText(const CMarkupNode* node, int index) const;
  // The value of an integer attribute; 0 for the other types.
  int AttributeInteger(const CMarkupNode* node, int index) const;
  // Empty for an empty element; for an element that was never closed, the text of the nearest
  // ancestor whose end is known; otherwise the node's slice of the buffer.
  std::string_view Text(const CMarkupNode* node) const;

 private:
  // An element with a given tag id among the children of one ancestor level of the current
  // node: the latest one appended there.
  struct OpenEntry {
    CMarkupNode* level;
    CMarkupNode* child;
  };

  void StartTree();
  bool Tokenize();
  void Free(CMarkupNode* node);
  void Unpin(CMarkupNode* node);
  void CompactAttributes();
  CMarkupNode* NewNode(int tagId, std::string_view name, size_t contentStart, std::ptrdiff_t contentLength);
  CMarkupNode* BuildElement(std::string_view name, size_t attrStart, size_t attrLength, size_t contentStart);
  void ParseAttributes(CMarkupNode* node, size_t attrStart, size_t attrLength);
  int RegisterName(std::string_view name);
  int LookUpClosingName(std::string_view name) const;
  void Append(CMarkupNode* node);
  // The element that a tag with this id closes: the current node or one of its previous
  // siblings, else its parent or one of the parent's previous siblings, and so on up to (not
  // including) the root.
  CMarkupNode* FindOpen(int tagId);
  CMarkupNode* FindOpenLiteral(int tagId) const;
  void CloseAt(CMarkupNode* element, size_t contentEnd);
  // The index in openByTag_ for a container tag id (made when missing); -1 for other ids.
  int SlotFor(int tagId);

  std::string path_;    // empty when loaded from text
  std::string buffer_;  // the text the nodes point into
  std::deque<CMarkupNode> nodes_;
  std::vector<CMarkupNode*> freeNodes_;       // released slots of nodes_, reused first
  std::vector<CMarkupAttribute> attributes_;  // of all nodes, each node's in one range
  size_t liveAttributes_ = 0;                 // those of nodes not freed
  bool anyReleased_ = false;                  // sibling chains no longer hold every node
  size_t discardedTo_ = 0;                    // DiscardText gave back pages up to here
  CMarkupNode* root_ = nullptr;
  CMarkupNode* current_ = nullptr;  // the open element that receives the next node
  size_t pos_ = 0;                  // where Step goes on in the buffer
  bool finished_ = false;           // Step has nothing more to do
  bool tokenizedToEnd_ = true;
  std::vector<std::string> tagNames_;                   // registry, first spelling kept
  std::unordered_map<std::string, int> tagNameIndex_;   // lower-case name -> registry index
  std::vector<std::vector<OpenEntry>> openByTag_;       // per container tag id, deepest level last
  // For each entry of openByTag_, in the order they were made: its level's depth and its
  // slot. Levels leave the chain deepest first, so their entries are dropped from the back.
  struct EntryRecord {
    uint32_t depth;
    uint32_t slot;
  };
  std::vector<EntryRecord> entryRecords_;
};

}  // namespace captionparser
