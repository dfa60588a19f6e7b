// quote_messages.h: Level-2 messages for tests, benchmarks and fuzzing seeds,
// built with the generated classes, and their wire bytes.

#ifndef VELTRANE_TESTS_QUOTE_MESSAGES_H
#define VELTRANE_TESTS_QUOTE_MESSAGES_H

#include <string>

#include "quote.pb.h"

namespace testing_support {

template <class Message>
std::string Encode(const Message& message) {
  std::string bytes;
  message.SerializeToString(&bytes);
  return bytes;
}

// Appends a field's key (its number and wire type) as the wire format writes it.
inline void AppendKey(std::string& bytes, int field, int wireType) {
  for (unsigned key = static_cast<unsigned>(field) << 3 | static_cast<unsigned>(wireType);;
       key >>= 7) {
    if (key < 0x80) {
      bytes.push_back(static_cast<char>(key));
      return;
    }
    bytes.push_back(static_cast<char>(key | 0x80));
  }
}

// 600000 at 12.34 with ten levels on both sides, one tick apart, and every
// field the translation reads set to a value of its own.
inline lmvproto::SSEL2_Quotation ShanghaiSnapshot() {
  lmvproto::SSEL2_Quotation m;
  m.set_time(93000120);
  m.set_symbol("600000");
  m.set_precloseprice(12.2);
  m.set_openprice(12.25);
  m.set_highprice(12.5);
  m.set_lowprice(12.1);
  m.set_lastprice(12.34);
  m.set_totalvolume(25000000);
  m.set_totalamount(308500000.25);
  m.set_quotationflag("L2");
  m.set_tradestatus("TRADE");
  m.set_extra14(3);
  m.add_extralist78(7);
  m.add_extralist111(9);
  m.set_askprice01(12.35), m.set_askvolume01(1100);
  m.set_askprice02(12.36), m.set_askvolume02(1200);
  m.set_askprice03(12.37), m.set_askvolume03(1300);
  m.set_askprice04(12.38), m.set_askvolume04(1400);
  m.set_askprice05(12.39), m.set_askvolume05(1500);
  m.set_askprice06(12.40), m.set_askvolume06(1600);
  m.set_askprice07(12.41), m.set_askvolume07(1700);
  m.set_askprice08(12.42), m.set_askvolume08(1800);
  m.set_askprice09(12.43), m.set_askvolume09(1900);
  m.set_askprice10(12.44), m.set_askvolume10(2000);
  m.set_bidprice01(12.34), m.set_bidvolume01(2100);
  m.set_bidprice02(12.33), m.set_bidvolume02(2200);
  m.set_bidprice03(12.32), m.set_bidvolume03(2300);
  m.set_bidprice04(12.31), m.set_bidvolume04(2400);
  m.set_bidprice05(12.30), m.set_bidvolume05(2500);
  m.set_bidprice06(12.29), m.set_bidvolume06(2600);
  m.set_bidprice07(12.28), m.set_bidvolume07(2700);
  m.set_bidprice08(12.27), m.set_bidvolume08(2800);
  m.set_bidprice09(12.26), m.set_bidvolume09(2900);
  m.set_bidprice10(12.25), m.set_bidvolume10(3000);
  m.set_askextra01(1);
  m.set_bidextra10(2);
  return m;
}

// 000001 at 10.125 with ten levels on both sides; volumes carry fractions.
inline lmvproto::SZSEL2_Quotation ShenzhenSnapshot() {
  lmvproto::SZSEL2_Quotation m;
  m.set_time(145703250);
  m.set_symbol("000001");
  m.set_symbolsource("102");
  m.set_precloseprice(10.0);
  m.set_openprice(10.01);
  m.set_lastprice(10.125);
  m.set_highprice(10.2);
  m.set_lowprice(9.95);
  m.set_totalvolume(2500000000.4);
  m.set_totalamount(25312500000.5);
  m.add_extralist59(1.5);
  m.add_extralist94(2.5);
  m.set_askprice01(10.13), m.set_askvolume01(100.9);
  m.set_askprice02(10.14), m.set_askvolume02(200.1);
  m.set_askprice03(10.15), m.set_askvolume03(300);
  m.set_askprice04(10.16), m.set_askvolume04(400);
  m.set_askprice05(10.17), m.set_askvolume05(500);
  m.set_askprice06(10.18), m.set_askvolume06(600);
  m.set_askprice07(10.19), m.set_askvolume07(700);
  m.set_askprice08(10.20), m.set_askvolume08(800);
  m.set_askprice09(10.21), m.set_askvolume09(900);
  m.set_askprice10(10.22), m.set_askvolume10(1000.99);
  m.set_bidprice01(10.12), m.set_bidvolume01(1100);
  m.set_bidprice02(10.11), m.set_bidvolume02(1200);
  m.set_bidprice03(10.10), m.set_bidvolume03(1300);
  m.set_bidprice04(10.09), m.set_bidvolume04(1400);
  m.set_bidprice05(10.08), m.set_bidvolume05(1500);
  m.set_bidprice06(10.07), m.set_bidvolume06(1600);
  m.set_bidprice07(10.06), m.set_bidvolume07(1700);
  m.set_bidprice08(10.05), m.set_bidvolume08(1800);
  m.set_bidprice09(10.04), m.set_bidvolume09(1900);
  m.set_bidprice10(10.03), m.set_bidvolume10(2000.5);
  m.set_askextra01(11);
  m.set_bidextra10(12);
  return m;
}

// A buy of 300 at 12.34.
inline lmvproto::SSEL2_Transaction ShanghaiTrade() {
  lmvproto::SSEL2_Transaction m;
  m.set_time(93001500);
  m.set_symbol("600000");
  m.set_tradeprice(12.34);
  m.set_tradevolume(300);
  m.set_buysellflag(1);
  m.set_extra11(123456);
  return m;
}

// A sell of 1500.5 at 10.125.
inline lmvproto::SZSEL2_Transaction ShenzhenTrade() {
  lmvproto::SZSEL2_Transaction m;
  m.set_time(100000010);
  m.set_symbol("000001");
  m.set_symbolsource("102");
  m.set_tradeprice(10.125);
  m.set_tradevolume(1500.5);
  m.set_buysellflag(2);
  m.set_extra13(654321);
  return m;
}

}  // namespace testing_support

#endif  // VELTRANE_TESTS_QUOTE_MESSAGES_H
