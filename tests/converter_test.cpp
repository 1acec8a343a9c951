#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <set>

#include "convert/amount.h"
#include "convert/converter.h"
#include "rates/currency.h"

namespace {

// A list that behaves as the Win32 combo box does: insert and delete keep the selected item,
// deleting the selected item leaves none, and selecting from the program notifies nobody.
class ComboLikeList final : public CurrencyList {
 public:
  int Count() const override { return static_cast<int>(items.size()); }
  int ItemData(int position) const override {
    return position >= 0 && position < Count() ? items[static_cast<std::size_t>(position)] : -1;
  }
  int Selection() const override { return selection; }
  void Select(int position) override { selection = position >= 0 && position < Count() ? position : -1; }
  void Delete(int position) override {
    items.erase(items.begin() + position);
    if (selection == position) {
      selection = -1;
    } else if (selection > position) {
      --selection;
    }
  }
  void Insert(int position, int currency) override {
    items.insert(items.begin() + position, currency);
    if (selection >= position) ++selection;
  }

  std::vector<int> items;
  int selection = -1;
};

// An amount box whose change notification arrives inside SetText, as EN_CHANGE does.
class NotifyingBox final : public AmountBox {
 public:
  std::string Text() const override { return text; }
  void SetText(std::string_view value) override {
    text = value;
    ++programWrites;
    if (onChange) onChange();
  }
  void Type(const std::string& value) {
    text = value;
    if (onChange) onChange();
  }

  std::string text;
  int programWrites = 0;
  std::function<void()> onChange;
};

class ConverterTest : public ::testing::Test {
 protected:
  ConverterTest() : converter(fromList, fromEdit, toList, toEdit, rates) {
    fromEdit.onChange = [this] { converter.OnEnChangeFromEdit(); };
    toEdit.onChange = [this] { converter.OnEnChangeToEdit(); };
  }

  void StartWith(const RateTable& table) {
    converter.FillLists();
    rates.Store(table);
    converter.Begin();
  }

  // What a user's choice of a currency in a list does: select it, then CBN_SELENDOK.
  void ChooseFrom(int currency) {
    fromList.Select(IndexOf(fromList, currency));
    converter.OnCbnSelendokFromCombo();
  }
  void ChooseTo(int currency) {
    toList.Select(IndexOf(toList, currency));
    converter.OnCbnSelendokToCombo();
  }
  static int IndexOf(const ComboLikeList& list, int currency) {
    const auto found = std::find(list.items.begin(), list.items.end(), currency);
    return found == list.items.end() ? -1 : static_cast<int>(found - list.items.begin());
  }

  int Selected(const ComboLikeList& list) const { return list.ItemData(list.selection); }

  // The converter's invariants, which hold after every handler.
  void ExpectHoldOutInvariants() {
    ASSERT_NE(fromList.selection, -1);
    ASSERT_NE(toList.selection, -1);
    EXPECT_EQ(converter.m_toCurrency, Selected(toList));
    EXPECT_EQ(converter.m_fromCurrency, Selected(fromList));
    EXPECT_NE(Selected(fromList), Selected(toList));
    EXPECT_EQ(fromList.items, OrderedAllBut(converter.m_toCurrency));
    EXPECT_EQ(toList.items, OrderedAllBut(converter.m_fromCurrency));
    ExpectTypingConverts();
  }

  // The converter is not left inside a write of its own: typing in the from box still converts
  // into the to box. Both boxes are put back as they were afterwards.
  void ExpectTypingConverts() {
    const NotifyingBox from = fromEdit;
    const NotifyingBox to = toEdit;
    fromEdit.Type(fromEdit.text);
    EXPECT_EQ(toEdit.programWrites, to.programWrites + 1);
    fromEdit = from;
    toEdit = to;
  }

  static std::vector<int> OrderedAllBut(int heldOut) {
    std::vector<int> order{RON_INDEX};
    for (int i = 0; i < RATE_COUNT; ++i) order.push_back(i);
    order.erase(std::find(order.begin(), order.end(), heldOut));
    return order;
  }

  ComboLikeList fromList;
  ComboLikeList toList;
  NotifyingBox fromEdit;
  NotifyingBox toEdit;
  SharedRates rates;
  Converter converter;
};

RateTable Rates(std::initializer_list<std::pair<int, float>> entries) {
  RateTable table{};
  for (auto [index, rate] : entries) table[index] = rate;
  return table;
}

constexpr int EUR = 0, USD = 1, XAU = 2, HUF = 10;

TEST(ConvertAmount, ArithmeticVectors) {
  const RateTable table = Rates({{EUR, 3.5f}, {USD, 2.8f}, {HUF, 1.4f}, {5, 1.0f}});
  struct Case {
    const char* text;
    int from;
    int to;
    const char* result;
  } cases[] = {
      {"1", RON_INDEX, EUR, "0.2857"},
      {"7", EUR, RON_INDEX, "24.5000"},
      {"99999.99", EUR, USD, "124999.9922"},  // one narrowing to float, not 124999.9896
      {"16777217", 5, RON_INDEX, "16777216.0000"},
      {"3", HUF, RON_INDEX, "4.2000"},  // hundreds of forint, no factor applied
      {"", RON_INDEX, EUR, "0.0000"},
      {"12abc", 5, RON_INDEX, "12.0000"},
      {".5", 5, RON_INDEX, "0.5000"},
      {"abc", 5, RON_INDEX, "0.0000"},
      {"5", EUR, 7, "0.0000"},  // zero divisor
      {"5", 7, EUR, "0.0000"},  // zero from rate, through the product
      {"-2", EUR, RON_INDEX, "-7.0000"},
      {"1", RON_INDEX, RON_INDEX, "1.0000"},
  };
  for (const auto& c : cases) EXPECT_EQ(ConvertAmount(c.text, c.from, c.to, table), c.result) << c.text;
}

TEST(ConvertAmount, ResultsBeyondFloatAndNaNRatesHaveTexts) {
  RateTable table = Rates({{EUR, 1e30f}, {USD, 1e-30f}});
  table[2] = std::numeric_limits<float>::quiet_NaN();
  table[3] = std::numeric_limits<float>::infinity();
  EXPECT_EQ(ConvertAmount("1e9", EUR, USD, table), AMOUNT_OUT_OF_RANGE);
  EXPECT_EQ(ConvertAmount("-1e9", EUR, USD, table), AMOUNT_OUT_OF_RANGE);
  EXPECT_EQ(ConvertAmount("1", 2, RON_INDEX, table), AMOUNT_NO_RATE);
  EXPECT_EQ(ConvertAmount("1", RON_INDEX, 2, table), AMOUNT_NO_RATE);
  EXPECT_EQ(ConvertAmount("1", 3, RON_INDEX, table), AMOUNT_OUT_OF_RANGE);
  EXPECT_EQ(ConvertAmount("0", 3, RON_INDEX, table), AMOUNT_NO_RATE);  // 0 x infinity
  EXPECT_EQ(ConvertAmount(std::string(400, '9'), RON_INDEX, RON_INDEX, table), AMOUNT_OUT_OF_RANGE);
  // The largest double that still rounds to a float, and the halfway point, which rounds to
  // infinity (ties to even).
  EXPECT_EQ(ConvertAmount("340282356779733623858607532500980858880", RON_INDEX, RON_INDEX, table),
            "340282346638528859811704183484516925440.0000");
  EXPECT_EQ(ConvertAmount("340282356779733661637539395458142568448", RON_INDEX, RON_INDEX, table), AMOUNT_OUT_OF_RANGE);
  EXPECT_EQ(ConvertAmount("1", 99, RON_INDEX, table), "0.0000");  // no such currency: no rate
}

TEST(ReadAmount, ReadsExactlyWhatAtofReads) {
  struct Case {
    const char* text;
    double value;
  } cases[] = {
      {"1", 1.0},       {"  \t\n+1.5e3xyz", 1500.0},
      {"1e", 1.0},      {"1e+", 1.0},
      {"1E-2", 0.01},   {"1.2.3", 1.2},
      {"0x10", 0.0},    {"inf", 0.0},
      {"nan", 0.0},     {"-.5", -0.5},
      {".", 0.0},       {"+", 0.0},
      {"-", 0.0},       {"", 0.0},
      {"  ", 0.0},      {"5.", 5.0},
      {"007", 7.0},     {"1,5", 1.0},
      {"1e-400", 0.0},  {"12abc", 12.0},
      {"0.1", 0.1},     {"1e308", 1e308},
      {"- 1", 0.0},     {"++1", 0.0},
      {"1e2.5", 100.0}, {"4.9406564584124654e-324", 4.9406564584124654e-324},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadAmount(c.text), c.value) << '"' << c.text << '"';
  EXPECT_EQ(ReadAmount("1e400"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(ReadAmount("-1e400"), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(ReadAmount("0.0000000000000000000001e330"), 1e308);
  EXPECT_EQ(ReadAmount("1000000000000000000000e-330"), 1e-309);
  EXPECT_EQ(ReadAmount("0e99999999999999999999"), 0.0);
  EXPECT_TRUE(std::signbit(ReadAmount("-0")));
}

TEST_F(ConverterTest, StartsRonToEurWithZeroInBothBoxes) {
  StartWith(Rates({{EUR, 4.97f}}));
  EXPECT_EQ(Selected(fromList), RON_INDEX);
  EXPECT_EQ(Selected(toList), EUR);
  EXPECT_EQ(fromEdit.text, "0.0000");
  EXPECT_EQ(toEdit.text, "0.0000");
  EXPECT_EQ(converter.m_fromCurrency, RON_INDEX);
  EXPECT_EQ(converter.m_toCurrency, EUR);
  EXPECT_EQ(toList.selection, 0);
  ExpectHoldOutInvariants();
}

TEST_F(ConverterTest, TypingConvertsIntoTheOtherBoxOnly) {
  StartWith(Rates({{EUR, 3.5f}}));
  fromEdit.programWrites = toEdit.programWrites = 0;
  fromEdit.Type("1");
  EXPECT_EQ(toEdit.text, "0.2857");
  EXPECT_EQ(fromEdit.text, "1");
  EXPECT_EQ(fromEdit.programWrites, 0);  // the result never converts back
  EXPECT_EQ(toEdit.programWrites, 1);
  toEdit.Type("7");
  EXPECT_EQ(fromEdit.text, "24.5000");
  EXPECT_EQ(toEdit.programWrites, 1);
  ExpectHoldOutInvariants();
}

TEST_F(ConverterTest, ChoosingXauPutsRonBackAndRecomputesTheFromSide) {
  StartWith(Rates({{EUR, 5.0f}, {XAU, 250.0f}}));
  toEdit.Type("10");
  const std::string toText = toEdit.text;
  ChooseFrom(XAU);
  EXPECT_EQ(toList.items.front(), RON_INDEX);
  EXPECT_EQ(IndexOf(toList, XAU), -1);
  EXPECT_EQ(Selected(toList), EUR);
  EXPECT_EQ(toList.selection, 1);
  EXPECT_EQ(fromEdit.text, "0.2000");  // 10 EUR in XAU
  EXPECT_EQ(toEdit.text, toText);
  ExpectHoldOutInvariants();
}

TEST_F(ConverterTest, ChoosingTheShownCurrencyAgainChangesNothing) {
  StartWith(Rates({{EUR, 5.0f}}));
  fromEdit.Type("2");
  const auto fromItems = fromList.items, toItems = toList.items;
  const int writes = fromEdit.programWrites + toEdit.programWrites;
  ChooseFrom(RON_INDEX);
  ChooseTo(EUR);
  EXPECT_EQ(fromList.items, fromItems);
  EXPECT_EQ(toList.items, toItems);
  EXPECT_EQ(fromEdit.programWrites + toEdit.programWrites, writes);
  ExpectHoldOutInvariants();
}

TEST_F(ConverterTest, NewRatesDoNotRecomputeUntilTheNextInput) {
  StartWith(Rates({{EUR, 5.0f}}));
  fromEdit.Type("10");
  EXPECT_EQ(toEdit.text, "2.0000");
  rates.Store(Rates({{EUR, 4.0f}}));
  EXPECT_EQ(toEdit.text, "2.0000");
  fromEdit.Type("10");
  EXPECT_EQ(toEdit.text, "2.5000");
}

TEST_F(ConverterTest, HoldOutInvariantsSurviveAnySequenceOfChoices) {
  StartWith(Rates({{EUR, 4.9f}, {USD, 4.5f}, {XAU, 300.0f}, {HUF, 1.3f}}));
  std::mt19937 random(20261209);
  for (int step = 0; step < 2000; ++step) {
    const bool fromSide = random() % 2 == 0;
    ComboLikeList& list = fromSide ? fromList : toList;
    const int position = static_cast<int>(random() % static_cast<unsigned>(list.Count()));
    list.Select(position);
    if (fromSide) {
      converter.OnCbnSelendokFromCombo();
    } else {
      converter.OnCbnSelendokToCombo();
    }
    if (step % 7 == 0) (fromSide ? fromEdit : toEdit).Type(std::to_string(step));
    ExpectHoldOutInvariants();
    if (HasFailure()) FAIL() << "after step " << step;
  }
}

TEST_F(ConverterTest, HandlersWithoutASelectionDoNothing) {
  converter.FillLists();
  fromEdit.Type("5");
  converter.OnCbnSelendokFromCombo();
  converter.OnCbnSelendokToCombo();
  EXPECT_EQ(toEdit.programWrites + fromEdit.programWrites, 0);
  EXPECT_EQ(fromList.Count(), CURRENCY_COUNT);
  EXPECT_EQ(toList.Count(), CURRENCY_COUNT);
}

TEST(CurrencyListRules, InsertKeepsRonFirstThenIndexOrder) {
  ComboLikeList list;
  for (int currency : {5, 18, 0, 17, 2, 10}) InsertCurrency(list, currency);
  EXPECT_EQ(list.items, (std::vector<int>{18, 0, 2, 5, 10, 17}));
  EXPECT_EQ(FindCurrency(list, 10), 4);
  EXPECT_EQ(FindCurrency(list, 3), -1);
  ComboLikeList full;
  for (int i = 0; i < CURRENCY_COUNT; ++i) InsertCurrency(full, i);
  std::vector<std::string> labels;
  for (int data : full.items) labels.emplace_back(CurrencyCodes[static_cast<std::size_t>(data)]);
  EXPECT_EQ(labels, (std::vector<std::string>{"RON", "EUR", "USD", "XAU", "AUD", "CAD", "CHF", "CZK", "DKK", "EGP",
                                              "GBP", "100HUF", "100JPY", "MDL", "NOK", "PLN", "SEK", "TRY", "XDR"}));
}

}  // namespace
