#include "mgproc/Processor.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char *const kAssertMgproc = "Assertion failed: 0, file mgproc, line";

uint32_t ceilDiv(uint32_t a, uint32_t b) { return (a + b - 1) / b; }

// Offset of the first bank address that counts as a general-purpose register.
uint32_t firstGpr(ProcessorId id) {
  for (uint32_t offset = 0; offset < bankSize(id); ++offset)
    if (isGpr(id, offset))
      return offset;
  return bankSize(id);
}

std::vector<std::string> splitTabs(const std::string &line) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, '\t'))
    fields.push_back(field);
  if (!line.empty() && line.back() == '\t')
    fields.push_back("");
  return fields;
}

uint32_t number(const std::string &text) {
  return uint32_t(std::strtoul(text.c_str(), nullptr, 0));
}

} // namespace

TEST(ProcessorTable, MatchesReferenceListWhenPresent) {
  std::ifstream in(ORVANE_SOURCE_DIR "/../shared/processors.tsv");
  if (!in)
    GTEST_SKIP() << "reference processor list not available";
  std::string line;
  std::getline(in, line); // column names
  unsigned rows = 0;
  while (std::getline(in, line)) {
    if (line.empty())
      continue;
    std::vector<std::string> f = splitTabs(line);
    ASSERT_EQ(f.size(), 10u) << line;
    SCOPED_TRACE(line);
    ProcessorId id = ProcessorId(number(f[0]));
    ++rows;
    EXPECT_EQ(id, rows);
    EXPECT_STREQ(procName(id), f[1].c_str());
    EXPECT_EQ(procFamily(id), number(f[2]));
    EXPECT_EQ(procCode(id), number(f[4]));
    EXPECT_EQ(progMemSize(id), number(f[5]));
    EXPECT_EQ(dataMemSize(id), number(f[6]));
    if (procFamily(id) == Quolm) {
      EXPECT_EQ(f[7], "");
    } else {
      EXPECT_EQ(firstGpr(id), number(f[7]));
    }
    EXPECT_EQ(progPageCount(id), number(f[8]));
    EXPECT_EQ(dataBankCount(id), number(f[9]));
  }
  EXPECT_EQ(rows, lastProcessorId);
}

TEST(ProcessorTable, CountsFollowFromSizes) {
  for (ProcessorId id = 1; id <= lastProcessorId; ++id) {
    SCOPED_TRACE(procName(id));
    EXPECT_EQ(progPageCount(id), ceilDiv(progMemSize(id), pageSize(id)));
    EXPECT_EQ(dataBankCount(id), ceilDiv(dataMemSize(id), bankSize(id)));
  }
}

TEST(ProcessorTable, RowsPerFamily) {
  unsigned perFamily[5] = {};
  for (ProcessorId id = 1; id <= lastProcessorId; ++id)
    ++perFamily[procFamily(id)];
  EXPECT_EQ(perFamily[Trell], 94u);
  EXPECT_EQ(perFamily[Brask], 11u);
  EXPECT_EQ(perFamily[Vesk], 34u);
  EXPECT_EQ(perFamily[Quolm], 19u);
}

TEST(ProcessorTable, NamesAndCodesAreUnique) {
  std::set<std::string> names;
  std::set<uint16_t> codes;
  for (ProcessorId id = 1; id <= lastProcessorId; ++id) {
    std::string name = procName(id);
    for (char &c : name)
      c = char(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_TRUE(names.insert(name).second) << name;
    EXPECT_TRUE(codes.insert(procCode(id)).second) << procName(id);
    EXPECT_NE(procCode(id), 0);
  }
}

TEST(ProcessorCodes, EveryCodeMapsBackToItsId) {
  unsigned known = 0;
  for (uint32_t code = 0; code <= 0xFFFF; ++code)
    known += isKnownProcCode(uint16_t(code));
  EXPECT_EQ(known, lastProcessorId);
  EXPECT_FALSE(isKnownProcCode(0));
  EXPECT_FALSE(isKnownProcCode(0xFFFF));
  for (ProcessorId id = 1; id <= lastProcessorId; ++id)
    EXPECT_EQ(procFromCode(procCode(id)), id);
}

TEST(ProcessorCodes, LookAtLow16BitsOnly) {
  uint32_t wide = 0x10000u | procCode(1);
  EXPECT_TRUE(isKnownProcCode(uint16_t(wide)));
  EXPECT_EQ(procFromCode(uint16_t(wide)), 1);
}

TEST(ProcessorNames, LookupFoldsCaseAndLeavesIdOnMiss) {
  ProcessorId id = 0;
  std::string name = procName(42);
  for (char &c : name)
    c = char(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_TRUE(procFromName(name.c_str(), &id));
  EXPECT_EQ(id, 42);

  id = 7;
  EXPECT_FALSE(procFromName("", &id));
  EXPECT_FALSE(procFromName((std::string(procName(42)) + " ").c_str(), &id));
  EXPECT_FALSE(procFromName(std::string(procName(42)).substr(1).c_str(), &id));
  EXPECT_EQ(id, 7);
}

TEST(ProcessorGeometry, FamilyConstants) {
  struct Expected {
    ProcessorFamily family;
    uint32_t unitBits, page, bank, progMask, dataMask;
  };
  const Expected table[] = {{Trell, 14, 0x800, 0x80, 0x1FFF, 0x1FF},
                            {Brask, 16, 0x2000, 0x100, 0xFFFF, 0xFFF},
                            {Vesk, 12, 0x200, 0x20, 0x7FF, 0x7F},
                            {Quolm, 8, 0x200000, 0x100, 0x1FFFFF, 0xFFF}};
  for (ProcessorId id = 1; id <= lastProcessorId; ++id) {
    SCOPED_TRACE(procName(id));
    const Expected &e = table[procFamily(id) - 1];
    ASSERT_EQ(e.family, procFamily(id));
    EXPECT_EQ(addrUnitBits(id), e.unitBits);
    EXPECT_EQ(dataWidthBits(id), 8u);
    EXPECT_EQ(pageSize(id), e.page);
    EXPECT_EQ(bankSize(id), e.bank);
    EXPECT_EQ(progAddrMask(id), e.progMask);
    EXPECT_EQ(dataAddrMask(id), e.dataMask);
    EXPECT_EQ(bankOffset(id, 0x1234), 0x1234u & (e.bank - 1));
  }
}

// First id of a family whose row satisfies pred.
ProcessorId findRow(ProcessorFamily family,
                    const std::function<bool(ProcessorId)> &pred) {
  for (ProcessorId id = 1; id <= lastProcessorId; ++id)
    if (procFamily(id) == family && pred(id))
      return id;
  ADD_FAILURE() << "no such row";
  return 1;
}

ProcessorId anyRow(ProcessorFamily family) {
  return findRow(family, [](ProcessorId) { return true; });
}

TEST(ProcessorGeometry, BankOfDoesNotMaskTheAddress) {
  EXPECT_EQ(bankOf(anyRow(Trell), 0x1234), 0x24u);
  EXPECT_EQ(bankOf(anyRow(Brask), 0x1234), 0x12u);
  EXPECT_EQ(bankOf(anyRow(Quolm), 0x1234), 0x12u);
  EXPECT_EQ(bankOf(anyRow(Vesk), 0x1234), 0x91u);
}

TEST(ProcessorGeometry, GprStartsAtTheRowsFirstRegister) {
  ProcessorId trell32 = findRow(Trell, [](ProcessorId id) {
    return !isGpr(id, 0x1F) && isGpr(id, 0x20);
  });
  EXPECT_FALSE(isGpr(trell32, 0x1F));
  EXPECT_TRUE(isGpr(trell32, 0x20));
  EXPECT_TRUE(isGpr(trell32, 0xA0));
  EXPECT_FALSE(isGpr(trell32, 0x9F));

  unsigned trell12 = 0;
  for (ProcessorId id = 1; id <= lastProcessorId; ++id) {
    if (procFamily(id) == Trell && firstGpr(id) == 12) {
      ++trell12;
      EXPECT_EQ(dataMemSize(id), 0x100u);
      EXPECT_TRUE(progMemSize(id) == 0x200 || progMemSize(id) == 0x400);
    }
    if (procFamily(id) == Quolm) {
      for (uint32_t addr : {0u, 0x1Fu, 0x80u, 0xFFFu, 0x12345u})
        EXPECT_TRUE(isGpr(id, addr));
    }
  }
  EXPECT_EQ(trell12, 6u);
}

TEST(ProcessorGeometry, TellingRows) {
  ProcessorId noProg =
      findRow(Quolm, [](ProcessorId id) { return progMemSize(id) == 0; });
  EXPECT_EQ(progPageCount(noProg), 0u);
  EXPECT_EQ(pageSize(noProg), 0x200000u);
  EXPECT_EQ(dataBankCount(noProg), 6u);

  ProcessorId partBank =
      findRow(Vesk, [](ProcessorId id) { return dataMemSize(id) == 0x50; });
  EXPECT_EQ(dataBankCount(partBank), 3u);

  ProcessorId partPage =
      findRow(Vesk, [](ProcessorId id) { return progMemSize(id) == 0x180; });
  EXPECT_EQ(progPageCount(partPage), 1u);

  ProcessorId threePages =
      findRow(Trell, [](ProcessorId id) { return progMemSize(id) == 0x1800; });
  EXPECT_EQ(progPageCount(threePages), 3u);
}

TEST(ProcessorDeathTest, IdsOutsideTheTableStop) {
  const std::vector<std::function<void(ProcessorId)>> queries = {
      [](ProcessorId id) { procFamily(id); },
      [](ProcessorId id) { procName(id); },
      [](ProcessorId id) { procCode(id); },
      [](ProcessorId id) { bankOf(id, 0); },
      [](ProcessorId id) { bankOffset(id, 0); },
      [](ProcessorId id) { isGpr(id, 0); },
      [](ProcessorId id) { addrUnitBits(id); },
      [](ProcessorId id) { dataWidthBits(id); },
      [](ProcessorId id) { progPageCount(id); },
      [](ProcessorId id) { progMemSize(id); },
      [](ProcessorId id) { pageSize(id); },
      [](ProcessorId id) { dataBankCount(id); },
      [](ProcessorId id) { dataMemSize(id); },
      [](ProcessorId id) { bankSize(id); },
      [](ProcessorId id) { progAddrMask(id); },
      [](ProcessorId id) { dataAddrMask(id); },
  };
  for (size_t i = 0; i < queries.size(); ++i) {
    SCOPED_TRACE(i);
    for (ProcessorId id : {ProcessorId(0), ProcessorId(159)})
      EXPECT_DEATH(queries[i](id), kAssertMgproc);
    queries[i](lastProcessorId); // the last valid id does not stop
  }
}

TEST(ProcessorDeathTest, UnknownCodeStops) {
  EXPECT_DEATH(procFromCode(0), kAssertMgproc);
  EXPECT_DEATH(procFromCode(0xFFFF), kAssertMgproc);
}
