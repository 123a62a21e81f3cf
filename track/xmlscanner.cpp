#include "track/xmlscanner.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace {

enum : std::uint8_t { Space = 1, NameStop = 2, NameStart = 4 };

constexpr std::array<std::uint8_t, 256> CharClasses = [] {
  std::array<std::uint8_t, 256> classes{};
  for (unsigned char c : {' ', '\t', '\n', '\r'}) classes[c] = Space | NameStop;
  for (unsigned char c : {'/', '>', '<', '=', '"', '\''}) classes[c] = NameStop;
  for (int c = 'A'; c <= 'Z'; ++c) classes[c] = NameStart;
  for (int c = 'a'; c <= 'z'; ++c) classes[c] = NameStart;
  for (int c = 0x80; c < 0x100; ++c) classes[c] = NameStart;
  classes['_'] = classes[':'] = NameStart;
  return classes;
}();

bool IsSpace(char c) { return CharClasses[static_cast<unsigned char>(c)] & Space; }
bool IsNameStop(char c) { return CharClasses[static_cast<unsigned char>(c)] & NameStop; }
bool IsNameStart(char c) { return CharClasses[static_cast<unsigned char>(c)] & NameStart; }

// Entities referring to entities: deeper than this is a loop or an attack.
constexpr int MaxEntityDepth = 16;
// Longer than any name worth looking up; keeps a stray '&' from searching far for ';'.
constexpr std::size_t MaxReferenceLength = 64;

bool StartsWith(const char* p, const char* end, std::string_view prefix) {
  return static_cast<std::size_t>(end - p) >= prefix.size() &&
         std::memcmp(p, prefix.data(), prefix.size()) == 0;
}

const char* SkipSpace(const char* p, const char* end) {
  while (p < end && IsSpace(*p)) ++p;
  return p;
}

const char* SkipName(const char* p, const char* end) {
  while (p < end && !IsNameStop(*p)) ++p;
  return p;
}

// Position of `what` at or after p, or nullptr.
const char* Find(const char* p, const char* end, std::string_view what) {
  const std::string_view rest(p, static_cast<std::size_t>(end - p));
  const std::size_t at = rest.find(what);
  return at == std::string_view::npos ? nullptr : p + at;
}

bool IsXmlChar(std::uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

void AppendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// "#65" or "#x41" (without '&' and ';'); false when it is no valid character reference.
bool AppendCharacterReference(std::string& out, std::string_view reference) {
  const bool hex = reference.size() > 1 && reference[1] == 'x';
  const std::string_view digits = reference.substr(hex ? 2 : 1);
  if (digits.empty() || digits.size() > 8) return false;
  std::uint32_t c = 0;
  for (char d : digits) {
    unsigned v;
    if (d >= '0' && d <= '9') v = static_cast<unsigned>(d - '0');
    else if (hex && d >= 'a' && d <= 'f') v = static_cast<unsigned>(d - 'a' + 10);
    else if (hex && d >= 'A' && d <= 'F') v = static_cast<unsigned>(d - 'A' + 10);
    else return false;
    c = c * (hex ? 16 : 10) + v;
  }
  if (!IsXmlChar(c)) return false;
  AppendUtf8(out, c);
  return true;
}

char PredefinedEntity(std::string_view name) {
  if (name == "amp") return '&';
  if (name == "lt") return '<';
  if (name == "gt") return '>';
  if (name == "quot") return '"';
  if (name == "apos") return '\'';
  return 0;
}

// Trims white space and makes each inner run of it one space, in place.
void NormalizeSpace(std::string& text) {
  std::size_t out = 0;
  bool pendingSpace = false;
  for (char c : text) {
    if (IsSpace(c)) {
      pendingSpace = out > 0;
      continue;
    }
    if (pendingSpace) text[out++] = ' ';
    pendingSpace = false;
    text[out++] = c;
  }
  text.resize(out);
}

}  // namespace

TXmlProblem TXmlScanner::Scan(std::string_view document, TXmlHandler& handler) {
  FBegin = document.data();
  FEnd = FBegin + document.size();
  FHandler = &handler;
  FProblem = {};
  FBudget = EntityExpansionBudget;
  FEntities.clear();

  const char* p = FBegin;
  if (StartsWith(p, FEnd, "\xEF\xBB\xBF")) p += 3;  // UTF-8 byte order mark
  const char* text = p;
  while (p < FEnd) {
    const char* lt = static_cast<const char*>(std::memchr(p, '<', static_cast<std::size_t>(FEnd - p)));
    if (!lt) break;
    const char next = lt + 1 < FEnd ? lt[1] : ' ';
    if (next != '/' && next != '?' && next != '!' && !IsNameStart(next)) {
      // A '<' that begins no markup stays part of the text.
      Problem(lt, "'<' that begins no markup");
      p = lt + 1;
      continue;
    }
    Text(text, lt);
    p = text = Markup(lt);
  }
  Text(text, FEnd);

  FHandler = nullptr;
  FEntities.clear();
  return FProblem;
}

const char* TXmlScanner::Markup(const char* p) {
  switch (p[1]) {
    case '/':
      return EndTag(p);
    case '?':
      return ProcessingInstruction(p);
    case '!':
      break;
    default:
      return StartTag(p);
  }
  if (StartsWith(p, FEnd, "<!--")) {
    const char* close = Find(p + 4, FEnd, "-->");
    if (close) return close + 3;
    Problem(p, "unterminated comment");
    return FEnd;
  }
  if (StartsWith(p, FEnd, "<![CDATA[")) {
    const char* close = Find(p + 9, FEnd, "]]>");
    if (close) return close + 3;
    Problem(p, "unterminated CDATA section");
    return FEnd;
  }
  if (StartsWith(p, FEnd, "<!DOCTYPE")) return DocumentType(p);
  return Declaration(p);
}

std::string& TXmlScanner::AddAttribute(std::string_view name) {
  TXmlAttribute& attribute = FAttributes.emplace_back();
  attribute.Name = name;
  if (!FSpareValues.empty()) {
    attribute.Value = std::move(FSpareValues.back());
    FSpareValues.pop_back();
  }
  return attribute.Value;
}

const char* TXmlScanner::Attributes(const char* p, const char* limit) {
  for (;;) {
    p = SkipSpace(p, limit);
    if (p >= limit) return p;
    const char c = *p;
    if (c == '>' || c == '<' || ((c == '/' || c == '?') && p + 1 < limit && p[1] == '>')) return p;
    if (IsNameStop(c) || c == '/' || c == '?') {
      Problem(p, "unexpected character in a tag");
      ++p;
      continue;
    }
    const char* nameBegin = p;
    p = SkipName(p, limit);
    const std::string_view name(nameBegin, static_cast<std::size_t>(p - nameBegin));
    p = SkipSpace(p, limit);
    if (p >= limit || *p != '=') {
      Problem(p, "attribute without value");
      continue;
    }
    p = SkipSpace(p + 1, limit);
    const char* valueBegin = p;
    if (p < limit && (*p == '"' || *p == '\'')) {
      const char quote = *p++;
      valueBegin = p;
      // '<' cannot stand in a value: a value running into it lost its closing quote.
      while (p < limit && *p != quote && *p != '<') ++p;
      AttributeValue(AddAttribute(name), std::string_view(valueBegin, static_cast<std::size_t>(p - valueBegin)));
      if (p < limit && *p == quote) ++p;
      else Problem(p, "unterminated attribute value");
    } else {
      Problem(p, "attribute value without quotes");
      while (p < limit && !IsSpace(*p) && *p != '>' && *p != '<' && !(*p == '/' && p + 1 < limit && p[1] == '>'))
        ++p;
      AttributeValue(AddAttribute(name), std::string_view(valueBegin, static_cast<std::size_t>(p - valueBegin)));
    }
  }
}

void TXmlScanner::ClearAttributes() {
  for (TXmlAttribute& attribute : FAttributes) FSpareValues.push_back(std::move(attribute.Value));
  FAttributes.clear();
}

const char* TXmlScanner::StartTag(const char* p) {
  const char* nameBegin = p + 1;
  p = SkipName(nameBegin, FEnd);
  const std::string_view name(nameBegin, static_cast<std::size_t>(p - nameBegin));
  ClearAttributes();
  for (;;) {
    p = Attributes(p, FEnd);
    if (p == FEnd) {
      Problem(p, "unterminated tag");
      FHandler->StartTag(name, FAttributes);
      return FEnd;
    }
    switch (*p) {
      case '>':
        FHandler->StartTag(name, FAttributes);
        return p + 1;
      case '/':  // an empty-element tag holds nothing to report
        return p + 2;
      case '<':
        Problem(p, "unterminated tag");
        FHandler->StartTag(name, FAttributes);
        return p;
      default:  // '?' of "?>"
        Problem(p, "unexpected character in a tag");
        ++p;
    }
  }
}

const char* TXmlScanner::EndTag(const char* p) {
  const char* nameBegin = p + 2;
  p = SkipName(nameBegin, FEnd);
  const std::string_view name(nameBegin, static_cast<std::size_t>(p - nameBegin));
  p = SkipSpace(p, FEnd);
  if (p == FEnd || *p != '>') {
    Problem(p, "malformed end tag");
    while (p < FEnd && *p != '>' && *p != '<') ++p;
  }
  if (name.empty()) Problem(nameBegin, "end tag without name");
  else FHandler->EndTag(name);
  return p < FEnd && *p == '>' ? p + 1 : p;
}

const char* TXmlScanner::ProcessingInstruction(const char* p) {
  const char* close = Find(p + 2, FEnd, "?>");
  const char* limit = close ? close : FEnd;
  if (!close) Problem(p, "unterminated processing instruction");
  if (StartsWith(p, FEnd, "<?xml") && p + 5 < FEnd && IsSpace(p[5])) {
    ClearAttributes();
    const char* q = p + 5;
    while ((q = Attributes(q, limit)) < limit) {
      Problem(q, "unexpected character in the XML declaration");
      ++q;
    }
    std::string_view version, encoding;
    bool standalone = false;
    for (const TXmlAttribute& attribute : FAttributes) {
      if (attribute.Name == "version") version = attribute.Value;
      else if (attribute.Name == "encoding") encoding = attribute.Value;
      else if (attribute.Name == "standalone") standalone = attribute.Value == "yes";
    }
    FHandler->XmlProlog(version, encoding, standalone);
  }
  return close ? close + 2 : FEnd;
}

// Skips a markup declaration ("<!ELEMENT ...>" and the like) up to its '>', minding quotes.
const char* TXmlScanner::Declaration(const char* p) {
  for (p += 2; p < FEnd; ++p) {
    if (*p == '>') return p + 1;
    if (*p == '"' || *p == '\'') {
      const char* close = static_cast<const char*>(std::memchr(p + 1, *p, static_cast<std::size_t>(FEnd - p - 1)));
      if (!close) break;
      p = close;
    }
  }
  Problem(p, "unterminated declaration");
  return FEnd;
}

const char* TXmlScanner::EntityDeclaration(const char* p) {
  const char* q = SkipSpace(p + 8, FEnd);
  bool parameter = false;
  if (q < FEnd && *q == '%') {
    parameter = true;
    q = SkipSpace(q + 1, FEnd);
  }
  const char* nameBegin = q;
  q = SkipName(q, FEnd);
  const std::string_view name(nameBegin, static_cast<std::size_t>(q - nameBegin));
  q = SkipSpace(q, FEnd);
  // Only internal general entities are kept; external ones are never read.
  if (!parameter && !name.empty() && q < FEnd && (*q == '"' || *q == '\'')) {
    const char* close = static_cast<const char*>(std::memchr(q + 1, *q, static_cast<std::size_t>(FEnd - q - 1)));
    if (close && !FEntities.contains(name)) {
      // As in XML, character references are replaced when the entity is declared, the
      // rest when it is used.
      std::string value;
      AppendDecoded(value, std::string_view(q + 1, static_cast<std::size_t>(close - q - 1)), 0, true);
      FEntities.emplace(name, std::move(value));
    }
  }
  return Declaration(p);
}

const char* TXmlScanner::DocumentType(const char* p) {
  const char* q = p + 9;
  // Name and external identifier, up to the internal subset or the end.
  for (;; ++q) {
    if (q >= FEnd) {
      Problem(p, "unterminated document type declaration");
      return FEnd;
    }
    if (*q == '>') return q + 1;
    if (*q == '[') break;
    if (*q == '<') {
      Problem(q, "unterminated document type declaration");
      return q;
    }
    if (*q == '"' || *q == '\'') {
      const char* close = static_cast<const char*>(std::memchr(q + 1, *q, static_cast<std::size_t>(FEnd - q - 1)));
      if (!close) {
        Problem(q, "unterminated literal");
        return FEnd;
      }
      q = close;
    }
  }
  ++q;
  for (;;) {
    q = SkipSpace(q, FEnd);
    if (q >= FEnd) {
      Problem(p, "unterminated document type declaration");
      return FEnd;
    }
    if (*q == ']') {
      q = SkipSpace(q + 1, FEnd);
      if (q < FEnd && *q == '>') return q + 1;
      Problem(q, "malformed document type declaration");
      while (q < FEnd && *q != '>' && *q != '<') ++q;
      return q < FEnd && *q == '>' ? q + 1 : q;
    }
    if (StartsWith(q, FEnd, "<!--")) {
      const char* close = Find(q + 4, FEnd, "-->");
      if (!close) {
        Problem(q, "unterminated comment");
        return FEnd;
      }
      q = close + 3;
    } else if (StartsWith(q, FEnd, "<?")) {
      const char* close = Find(q + 2, FEnd, "?>");
      if (!close) {
        Problem(q, "unterminated processing instruction");
        return FEnd;
      }
      q = close + 2;
    } else if (StartsWith(q, FEnd, "<!ENTITY") && q + 8 < FEnd && IsSpace(q[8])) {
      q = EntityDeclaration(q);
    } else if (StartsWith(q, FEnd, "<!")) {
      q = Declaration(q);
    } else if (*q == '<') {
      // Markup of the document itself: the declaration was never closed.
      Problem(q, "unterminated document type declaration");
      return q;
    } else if (*q == '%') {
      // Parameter entity references are not followed.
      ++q;
      while (q < FEnd && *q != ';' && *q != ']' && !IsNameStop(*q)) ++q;
      if (q < FEnd && *q == ';') ++q;
    } else {
      Problem(q, "unexpected character in the document type declaration");
      ++q;
    }
  }
}

void TXmlScanner::Text(const char* first, const char* last) {
  while (first < last && IsSpace(*first)) ++first;
  while (last > first && IsSpace(last[-1])) --last;
  if (first == last) return;
  // Most texts need no work: hand out the document's own bytes. The last byte is not white
  // space, so looking one byte ahead of a space stays inside the text.
  const char* p = first;
  for (; p < last; ++p) {
    const char c = *p;
    if (c == '&' || c == '\t' || c == '\n' || c == '\r' || (c == ' ' && p[1] == ' ')) break;
  }
  if (p == last) {
    FHandler->Content(std::string_view(first, static_cast<std::size_t>(last - first)));
    return;
  }
  FText.clear();
  AppendDecoded(FText, std::string_view(first, static_cast<std::size_t>(last - first)), 0, false);
  NormalizeSpace(FText);
  if (!FText.empty()) FHandler->Content(FText);
}

void TXmlScanner::AttributeValue(std::string& value, std::string_view raw) {
  value.clear();
  AppendDecoded(value, raw, 0, false);
  std::replace_if(value.begin(), value.end(), [](char c) { return IsSpace(c); }, ' ');
}

void TXmlScanner::AppendDecoded(std::string& out, std::string_view raw, int depth, bool charactersOnly) {
  for (;;) {
    const std::size_t amp = raw.find('&');
    out.append(raw.substr(0, amp));
    if (amp == std::string_view::npos) return;
    raw.remove_prefix(amp);
    const std::size_t semicolon = raw.substr(0, MaxReferenceLength).find(';');
    const std::string_view reference =
        semicolon == std::string_view::npos ? std::string_view() : raw.substr(1, semicolon - 1);
    if (charactersOnly && !reference.starts_with('#')) {
      out.push_back('&');
      raw.remove_prefix(1);
    } else if (AppendReference(out, reference, depth)) {
      raw.remove_prefix(semicolon + 1);
    } else {
      // A bare '&' or an unknown entity is kept as written.
      Problem(raw.data(), "unresolved reference");
      out.push_back('&');
      raw.remove_prefix(1);
    }
  }
}

bool TXmlScanner::AppendReference(std::string& out, std::string_view reference, int depth) {
  if (reference.empty()) return false;
  if (reference[0] == '#') return AppendCharacterReference(out, reference);
  if (const char c = PredefinedEntity(reference)) {
    out.push_back(c);
    return true;
  }
  const auto entity = FEntities.find(reference);
  if (entity == FEntities.end() || depth >= MaxEntityDepth) return false;
  const std::size_t cost = std::max<std::size_t>(entity->second.size(), 1);
  if (cost > FBudget) return false;
  FBudget -= cost;
  AppendDecoded(out, entity->second, depth + 1, false);
  return true;
}

void TXmlScanner::Problem(const char* at, std::string_view reason) {
  // Only the first one is kept, and only places inside the document have an offset.
  if (FProblem) return;
  FProblem.Reason = reason;
  FProblem.Offset = at >= FBegin && at <= FEnd ? static_cast<std::size_t>(at - FBegin) : 0;
}
