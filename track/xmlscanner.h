#pragma once
#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

struct TXmlAttribute {
  std::string_view Name;
  std::string Value;
};

// What a scan reports, in document order. Names and texts are valid during the call only.
// Empty-element tags, comments, processing instructions, CDATA sections and the document
// type declaration are not reported.
class TXmlHandler {
 public:
  // "<?xml" followed by white space, wherever an item starts.
  virtual void XmlProlog(std::string_view version, std::string_view encoding, bool standalone) = 0;
  virtual void StartTag(std::string_view name, const std::vector<TXmlAttribute>& attributes) = 0;
  virtual void EndTag(std::string_view name) = 0;
  // Text between two items, references replaced, trimmed, inner white space runs made one
  // space; never empty.
  virtual void Content(std::string_view text) = 0;

 protected:
  ~TXmlHandler() = default;
};

// The first place where a document is not well-formed. The scan goes on past it.
struct TXmlProblem {
  std::size_t Offset = 0;
  std::string_view Reason;  // empty when the document had no problem
  explicit operator bool() const { return !Reason.empty(); }
};

// A tolerant event scanner over a document held in memory. It keeps no element stack, so
// its memory does not depend on nesting; nothing outside the document is ever read. Bare
// '&', unknown entities and other faults are passed over and the scan goes on. Texts are
// passed on in the document's bytes (UTF-8 here) whatever encoding the document names.
class TXmlScanner {
 public:
  // Total bytes that entities of the document's own DTD may produce in one scan; beyond it
  // references are kept as written.
  static constexpr std::size_t EntityExpansionBudget = 1 << 20;

  TXmlProblem Scan(std::string_view document, TXmlHandler& handler);

 private:
  const char* Markup(const char* p);
  const char* StartTag(const char* p);
  const char* Attributes(const char* p, const char* limit);
  const char* EndTag(const char* p);
  const char* Declaration(const char* p);
  const char* ProcessingInstruction(const char* p);
  const char* DocumentType(const char* p);
  const char* EntityDeclaration(const char* p);
  void Text(const char* first, const char* last);
  void AttributeValue(std::string& value, std::string_view raw);
  void AppendDecoded(std::string& out, std::string_view raw, int depth, bool charactersOnly);
  bool AppendReference(std::string& out, std::string_view reference, int depth);
  void ClearAttributes();
  std::string& AddAttribute(std::string_view name);
  void Problem(const char* at, std::string_view reason);

  const char* FBegin = nullptr;
  const char* FEnd = nullptr;
  TXmlHandler* FHandler = nullptr;
  TXmlProblem FProblem;
  std::size_t FBudget = 0;
  std::map<std::string, std::string, std::less<>> FEntities;
  // Reused from event to event so that a scan does not allocate per item.
  std::vector<TXmlAttribute> FAttributes;
  std::vector<std::string> FSpareValues;
  std::string FText;
};
