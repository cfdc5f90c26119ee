#include "KroJournal/ParameterBlob.h"

#include "KroJournal/JournalError.h"

#include <cstdint>
#include <cstring>

namespace KroJournal
{
  namespace
  {
    using Halvern_Utilities::Variant;

    void PutWord(std::string& out, std::uint64_t word)
    {
      for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<char>((word >> (8 * i)) & 0xff));
    }

    // Reads the journal's bytes one value at a time, never past their end.
    class Reader
    {
    public:
      explicit Reader(const std::string& bytes) : m_bytes(bytes) {}
      bool AtEnd() const { return m_at == m_bytes.size(); }
      unsigned char Octet()
      {
        Need(1);
        return static_cast<unsigned char>(m_bytes[m_at++]);
      }
      std::uint64_t Word()
      {
        Need(8);
        std::uint64_t word = 0;
        for (int i = 0; i < 8; ++i)
          word |= static_cast<std::uint64_t>(static_cast<unsigned char>(m_bytes[m_at + i])) << (8 * i);
        m_at += 8;
        return word;
      }
      std::string Chunk()
      {
        const std::uint64_t size = Word();
        Need(size);
        std::string chunk = m_bytes.substr(m_at, size);
        m_at += size;
        return chunk;
      }

    private:
      void Need(std::uint64_t size) const
      {
        if (size > m_bytes.size() - m_at)
          throw JournalError("operation parameters cut short in the journal");
      }
      const std::string& m_bytes;
      std::size_t m_at = 0;
    };
  }

  std::string ParameterBlob::Encode(const std::vector<Variant>& parameters)
  {
    std::string out;
    for (const Variant& value : parameters)
    {
      out.push_back(static_cast<char>(value.GetKind()));
      switch (value.GetKind())
      {
        case Variant::Empty:
          break;
        case Variant::Bool:
          out.push_back(value.AsBool() ? 1 : 0);
          break;
        case Variant::Integer:
          PutWord(out, static_cast<std::uint64_t>(value.AsInteger()));
          break;
        case Variant::Double:
        {
          const double number = value.AsDouble();
          std::uint64_t bits = 0;
          std::memcpy(&bits, &number, sizeof bits);
          PutWord(out, bits);
          break;
        }
        case Variant::Text:
          PutWord(out, value.AsText().size());
          out += value.AsText();
          break;
        case Variant::Bytes:
          PutWord(out, value.AsBytes().size());
          out.append(value.AsBytes().begin(), value.AsBytes().end());
          break;
      }
    }
    return out;
  }

  std::vector<Variant> ParameterBlob::Decode(const std::string& bytes)
  {
    std::vector<Variant> parameters;
    Reader in(bytes);
    while (!in.AtEnd())
    {
      switch (in.Octet())
      {
        case Variant::Empty:
          parameters.emplace_back();
          break;
        case Variant::Bool:
          parameters.emplace_back(in.Octet() != 0);
          break;
        case Variant::Integer:
          parameters.emplace_back(static_cast<long long>(in.Word()));
          break;
        case Variant::Double:
        {
          const std::uint64_t bits = in.Word();
          double number = 0;
          std::memcpy(&number, &bits, sizeof number);
          parameters.emplace_back(number);
          break;
        }
        case Variant::Text:
          parameters.emplace_back(in.Chunk());
          break;
        case Variant::Bytes:
        {
          const std::string chunk = in.Chunk();
          parameters.emplace_back(Variant::ByteVector(chunk.begin(), chunk.end()));
          break;
        }
        default:
          throw JournalError("an operation parameter of unknown kind in the journal");
      }
    }
    return parameters;
  }
}
