// Variant: one parameter value of an asynchronous operation; empty, a
// boolean, a whole number, a floating-point number, a text or raw bytes.
//
// A plain value: copy, compare and assign it freely. Reading it as the wrong
// kind raises Halvern_Utilities::Exception; nothing converts silently except
// a whole number read as a double.
#ifndef DAZADARED_VARIANT_H
#define DAZADARED_VARIANT_H

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace Halvern_Utilities
{
  class Variant
  {
  public:
    enum Kind { Empty, Bool, Integer, Double, Text, Bytes };
    typedef std::vector<unsigned char> ByteVector;

    Variant();
    explicit Variant(bool value);
    Variant(int value);
    Variant(long value);
    Variant(long long value);
    Variant(double value);
    Variant(const char* text);         // null is an empty text
    Variant(const std::string& text);
    Variant(const ByteVector& bytes);

    Kind GetKind() const;
    bool IsEmpty() const;

    bool AsBool() const;
    std::int64_t AsInteger() const;
    double AsDouble() const;              // also from an integer
    const std::string& AsText() const;
    const ByteVector& AsBytes() const;

    // A short readable form, for logs: "true", "42", "2.5", "\"text\"", "<3 bytes>".
    std::string ToString() const;

    bool operator==(const Variant& other) const;
    bool operator!=(const Variant& other) const { return !(*this == other); }

  private:
    [[noreturn]] void WrongKind(const char* method) const;

    std::variant<std::monostate, bool, std::int64_t, double, std::string, ByteVector> m_value;
  };
}

#endif
