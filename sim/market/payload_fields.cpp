// Field-level reading of Level-2 payloads with the wire-format primitives of
// the protobuf runtime.

#include "payload_fields.h"

#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/wire_format_lite.h>

#include <cstring>

#include "quote.pb.h"

namespace sim {
namespace {

using google::protobuf::internal::WireFormatLite;
using google::protobuf::io::CodedInputStream;

struct SymbolField {
  const char* typeName;
  int number;
};

// The field numbers come from the generated classes, so they follow the
// schema.
template <class Type>
constexpr SymbolField SymbolFieldOf(const char* typeName) {
  return {typeName, Type::kSymbolFieldNumber};
}
constexpr SymbolField kSymbolFields[] = {
    SymbolFieldOf<lmvproto::SSEL2_Quotation>("SSEL2_Quotation"),
    SymbolFieldOf<lmvproto::SZSEL2_Quotation>("SZSEL2_Quotation"),
    SymbolFieldOf<lmvproto::SSEL2_Transaction>("SSEL2_Transaction"),
    SymbolFieldOf<lmvproto::SZSEL2_Transaction>("SZSEL2_Transaction"),
    SymbolFieldOf<lmvproto::SSEL2_Index>("SSEL2_Index"),
    SymbolFieldOf<lmvproto::SZSEL2_Index>("SZSEL2_Index"),
    SymbolFieldOf<lmvproto::SSEL2_Static>("SSEL2_Static"),
    SymbolFieldOf<lmvproto::SZSEL2_Static>("SZSEL2_Static"),
};

template <class Type>
constexpr SnapshotLayout SnapshotLayoutOf(const char* typeName) {
  return {typeName,
          Type::kSymbolFieldNumber,
          Type::kPreClosePriceFieldNumber,
          Type::kOpenPriceFieldNumber,
          Type::kHighPriceFieldNumber,
          Type::kLowPriceFieldNumber,
          Type::kLastPriceFieldNumber,
          Type::kTotalVolumeFieldNumber,
          Type::kTotalAmountFieldNumber,
          Type::kAskPrice01FieldNumber,
          Type::kBidPrice01FieldNumber,
          Type::kSecurityPhaseTagFieldNumber,
          Type::kTimeFieldNumber};
}
using lmvproto::SSEL2_Quotation;
using lmvproto::SZSEL2_Quotation;
constexpr SnapshotLayout kSnapshotLayouts[] = {
    SnapshotLayoutOf<SSEL2_Quotation>("SSEL2_Quotation"),
    SnapshotLayoutOf<SZSEL2_Quotation>("SZSEL2_Quotation"),
};

template <class Type>
constexpr TradeLayout TradeLayoutOf(const char* typeName) {
  return {typeName,
          Type::kSymbolFieldNumber,
          Type::kTradePriceFieldNumber,
          Type::kTradeVolumeFieldNumber,
          Type::kBuySellFlagFieldNumber,
          Type::kTimeFieldNumber};
}
constexpr TradeLayout kTradeLayouts[] = {
    TradeLayoutOf<lmvproto::SSEL2_Transaction>("SSEL2_Transaction"),
    TradeLayoutOf<lmvproto::SZSEL2_Transaction>("SZSEL2_Transaction"),
};

// A snapshot's levels are three fields apart, each volume after its price.
template <class Type>
constexpr bool LevelsThreeApart() {
  return Type::kAskVolume01FieldNumber == Type::kAskPrice01FieldNumber + 1 &&
         Type::kAskPrice10FieldNumber == Type::kAskPrice01FieldNumber + 3 * (kLevels - 1) &&
         Type::kBidVolume01FieldNumber == Type::kBidPrice01FieldNumber + 1 &&
         Type::kBidPrice10FieldNumber == Type::kBidPrice01FieldNumber + 3 * (kLevels - 1);
}
static_assert(LevelsThreeApart<SSEL2_Quotation>() && LevelsThreeApart<SZSEL2_Quotation>(),
              "the snapshot layouts' level spacing");

template <class Layout, size_t N>
const Layout* Find(const Layout (&layouts)[N], std::string_view type) {
  for (const Layout& layout : layouts) {
    if (type == layout.type) return &layout;
  }
  return nullptr;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

}  // namespace

FeedKind KindOfType(std::string_view typeName) {
  return EndsWith(typeName, "_Transaction") ? kTrades : kSnapshots;
}

bool SymbolOf(std::string_view typeName, std::string_view payload, std::string& code) {
  int number = 0;
  for (const SymbolField& field : kSymbolFields) {
    if (typeName == field.typeName) number = field.number;
  }
  if (number == 0) return false;
  bool found = false;
  bool whole = VisitFields(payload, [&](const WireField& field) {
    if (field.number == number && field.wireType == WireFormatLite::WIRETYPE_LENGTH_DELIMITED) {
      code.assign(field.bytes.data(), field.bytes.size());
      found = true;
    }
  });
  return whole && found;
}

bool TimeOf(std::string_view typeName, std::string_view payload, int64_t& time) {
  int number = 0;
  if (const SnapshotLayout* layout = FindSnapshotLayout(typeName)) number = layout->time;
  if (const TradeLayout* layout = FindTradeLayout(typeName)) number = layout->time;
  if (number == 0) return false;
  bool found = false;
  bool whole = VisitFields(payload, [&](const WireField& field) {
    if (field.number == number && field.wireType == WireFormatLite::WIRETYPE_VARINT) {
      time = field.integer;
      found = true;
    }
  });
  return whole && found;
}

bool VisitFields(std::string_view payload, const std::function<void(const WireField&)>& visit) {
  const auto* data = reinterpret_cast<const uint8_t*>(payload.data());
  CodedInputStream in(data, static_cast<int>(payload.size()));
  while (uint32_t tag = in.ReadTag()) {
    WireField field{static_cast<int>(WireFormatLite::GetTagFieldNumber(tag)),
                    WireFormatLite::GetTagWireType(tag),
                    0,
                    0.0,
                    {}};
    if (field.number == 0) return false;
    switch (field.wireType) {
      case WireFormatLite::WIRETYPE_VARINT: {
        uint64_t value;
        if (!in.ReadVarint64(&value)) return false;
        field.integer = static_cast<int64_t>(value);
        break;
      }
      case WireFormatLite::WIRETYPE_FIXED64: {
        uint64_t value;
        if (!in.ReadLittleEndian64(&value)) return false;
        std::memcpy(&field.real, &value, sizeof value);
        break;
      }
      case WireFormatLite::WIRETYPE_FIXED32: {
        uint32_t value;
        if (!in.ReadLittleEndian32(&value)) return false;
        field.integer = value;
        break;
      }
      case WireFormatLite::WIRETYPE_LENGTH_DELIMITED: {
        uint32_t length = 0;
        if (!in.ReadVarint32(&length)) return false;
        const void* bytes = nullptr;
        int size = 0;
        if (length > 0) {
          if (!in.GetDirectBufferPointer(&bytes, &size) || length > static_cast<uint32_t>(size)) {
            return false;
          }
          field.bytes = std::string_view(static_cast<const char*>(bytes), length);
          in.Skip(static_cast<int>(length));
        }
        break;
      }
      default:
        return false;  // groups are not part of the schema
    }
    visit(field);
  }
  // ReadTag gives 0 both at the end and on a bad tag; only the end is whole.
  return in.ConsumedEntireMessage() && in.CurrentPosition() == static_cast<int>(payload.size());
}

FieldTable::FieldTable(std::string_view payload) {
  whole = VisitFields(payload, [&](const WireField& field) {
    inOrder.push_back(field);
    byNumber[field.number] = field;
  });
}

double FieldTable::Number(int number) const {
  auto found = byNumber.find(number);
  return found == byNumber.end() ? 0 : found->second.Number();
}

const SnapshotLayout* FindSnapshotLayout(std::string_view typeName) {
  return Find(kSnapshotLayouts, typeName);
}

const TradeLayout* FindTradeLayout(std::string_view typeName) {
  return Find(kTradeLayouts, typeName);
}

}  // namespace sim
