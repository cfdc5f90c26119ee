#include "Dazadared/Variant.h"
#include "Dazadared/Exception.h"

#include <sstream>

namespace Halvern_Utilities
{
  namespace
  {
    const char* KindName(Variant::Kind kind)
    {
      static const char* const names[] = {"empty", "bool", "integer", "double", "text", "bytes"};
      return names[kind];
    }
  }

  Variant::Variant() {}
  Variant::Variant(bool value) : m_value(value) {}
  Variant::Variant(int value) : m_value(static_cast<std::int64_t>(value)) {}
  Variant::Variant(long value) : m_value(static_cast<std::int64_t>(value)) {}
  Variant::Variant(long long value) : m_value(static_cast<std::int64_t>(value)) {}
  Variant::Variant(double value) : m_value(value) {}
  Variant::Variant(const char* text) : m_value(std::string(text ? text : "")) {}
  Variant::Variant(const std::string& text) : m_value(text) {}
  Variant::Variant(const ByteVector& bytes) : m_value(bytes) {}

  Variant::Kind Variant::GetKind() const { return static_cast<Kind>(m_value.index()); }
  bool Variant::IsEmpty() const { return GetKind() == Empty; }

  void Variant::WrongKind(const char* method) const
  {
    throw Exception("Variant", method, std::string("the value is ") + KindName(GetKind()));
  }

  bool Variant::AsBool() const
  {
    if (const bool* value = std::get_if<bool>(&m_value)) return *value;
    WrongKind("AsBool");
  }

  std::int64_t Variant::AsInteger() const
  {
    if (const std::int64_t* value = std::get_if<std::int64_t>(&m_value)) return *value;
    WrongKind("AsInteger");
  }

  double Variant::AsDouble() const
  {
    if (const double* value = std::get_if<double>(&m_value)) return *value;
    if (const std::int64_t* value = std::get_if<std::int64_t>(&m_value))
      return static_cast<double>(*value);
    WrongKind("AsDouble");
  }

  const std::string& Variant::AsText() const
  {
    if (const std::string* value = std::get_if<std::string>(&m_value)) return *value;
    WrongKind("AsText");
  }

  const Variant::ByteVector& Variant::AsBytes() const
  {
    if (const ByteVector* value = std::get_if<ByteVector>(&m_value)) return *value;
    WrongKind("AsBytes");
  }

  std::string Variant::ToString() const
  {
    std::ostringstream text;
    switch (GetKind())
    {
      case Empty:   text << "<empty>"; break;
      case Bool:    text << (AsBool() ? "true" : "false"); break;
      case Integer: text << AsInteger(); break;
      case Double:  text << AsDouble(); break;
      case Text:    text << '"' << AsText() << '"'; break;
      case Bytes:   text << '<' << AsBytes().size() << " bytes>"; break;
    }
    return text.str();
  }

  bool Variant::operator==(const Variant& other) const { return m_value == other.m_value; }
}
