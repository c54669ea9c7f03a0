// make_example: writes the inputs of the bundled example into a directory:
// two object files, one object library and the assembly sources they were
// "assembled" from (so the listing can show them), for a processor of the
// 14-bit family.
//
//   make_example <directory>
//
// The objects are made with the project's own test object builder; every
// instruction word is encoded by the instruction-set model.
#include "Archive.h"
#include "CoffBuilder.h"
#include "Messages.h"
#include "mginst/InstructionSet.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr std::uint16_t kDeviceCode = 0x1039; // TRL057E: 2 pages, 2 banks

// Relocation types used by the example.
constexpr std::uint16_t kRelCall = 1;
constexpr std::uint16_t kRelGoto = 2;
constexpr std::uint16_t kRelLow = 4;
constexpr std::uint16_t kRelBanksel = 6;
constexpr std::uint16_t kRelF = 10;

std::uint16_t encode(MnemonicCode code, std::uint16_t operand0 = 0,
                     int operand1 = -1) {
  std::uint16_t word = 0;
  setOpcode(&word, code, Trell);
  setOperand0(&word, operand0, Trell);
  if (operand1 >= 0)
    setOperand1(&word, static_cast<std::uint16_t>(operand1), Trell);
  return word;
}

// One source line; with an instruction it also gives one program word and,
// when it names a relocatable symbol, a relocation of that word.
struct SourceLine {
  std::string text;
  bool isCode = false;
  std::uint16_t word = 0;
  std::string symbol;
  std::uint16_t relocType = 0;
};

SourceLine text(const std::string &line) {
  SourceLine source;
  source.text = line;
  return source;
}
SourceLine code(const std::string &line, std::uint16_t word,
                const std::string &symbol = "", std::uint16_t relocType = 0) {
  return {line, true, word, symbol, relocType};
}

// The text of one source file, collected while its sections are made.
class SourceFile {
public:
  explicit SourceFile(const std::string &path) : cPath(path) {}
  ~SourceFile() { std::ofstream(cPath) << cText; }
  // Appends a line; gives its number.
  std::uint16_t add(const std::string &line) {
    cText += line + "\n";
    return ++cLines;
  }

private:
  std::string cPath;
  std::string cText;
  std::uint16_t cLines = 0;
};

// Adds a code section made of source lines: words, relocations and line
// numbers.
void addCodeSection(CoffBuilder &obj, SourceFile &source,
                    const std::string &sectionName,
                    const std::vector<SourceLine> &lines) {
  obj.section(sectionName, kScnTypeCode);
  std::uint32_t address = 0;
  for (const SourceLine &line : lines) {
    const std::uint16_t number = source.add(line.text);
    if (!line.isCode)
      continue;
    obj.words({line.word});
    if (line.relocType != 0)
      obj.reloc(2 * address, line.symbol, line.relocType);
    obj.line(number, address);
    ++address;
  }
}

void writeObject(const CoffBuilder &obj, const std::string &path) {
  obj.writeTo(path);
  std::printf("wrote %s\n", path.c_str());
}

void makeMain(const std::string &dir) {
  CoffBuilder obj;
  obj.processor(kDeviceCode);
  SourceFile source(dir + "/main.asm");
  addCodeSection(
      obj, source, "reset",
      {text("; main.asm - blinks the LEDs"), text(""), text("reset   code"),
       code("        goto    start", encode(Mnem::GOTO), "start", kRelGoto)});
  addCodeSection(
      obj, source, "main_program",
      {text(""), text("main_program code"),
       code("start   banksel count", 0, "count", kRelBanksel),
       code("        movlw   low ledinit", encode(Mnem::MOVLW), "ledinit",
            kRelLow),
       code("        movwf   count", encode(Mnem::MOVWF), "count", kRelF),
       code("loop    call    blink", encode(Mnem::CALL), "blink", kRelCall),
       code("        call    delay", encode(Mnem::CALL), "delay", kRelCall),
       code("        goto    loop", encode(Mnem::GOTO), "loop", kRelGoto)});
  obj.section("ledinit", kScnTypeIdata).bytes({0x01, 0x02, 0x04, 0x08});
  obj.fileSymbol("main.asm")
      .function("start", 0, "main_program")
      .symbolIn("loop", 3, "main_program", kClassLabel)
      .global("ledinit", 0, "ledinit")
      .external("count")
      .external("blink")
      .external("delay")
      .symbol(".eof", 0, kScnNumDebug, kClassFile);
  writeObject(obj, dir + "/main.o");
}

void makeUtil(const std::string &dir) {
  CoffBuilder obj;
  obj.processor(kDeviceCode);
  SourceFile source(dir + "/util.asm");
  addCodeSection(
      obj, source, "util",
      {text("; util.asm - LED helpers"), text("util    code"),
       code("blink   banksel leds", 0, "leds", kRelBanksel),
       code("        incf    leds, f", encode(Mnem::INCF, 0, 1), "leds", kRelF),
       code("        return", encode(Mnem::RETURN))});
  obj.section("vars", kScnTypeUdata).zeros(2);
  obj.fileSymbol("util.asm")
      .function("blink", 0, "util")
      .global("count", 0, "vars")
      .global("leds", 1, "vars")
      .symbol(".eof", 0, kScnNumDebug, kClassFile);
  writeObject(obj, dir + "/util.o");
}

// A library of two members; the link imports only the one it needs.
void makeLibrary(const std::string &dir) {
  CoffBuilder delay;
  delay.processor(kDeviceCode);
  SourceFile source(dir + "/delay.asm");
  addCodeSection(delay, source, "delay",
                 {text("; delay.asm - a short busy wait"), text("delay   code"),
                  code("delay   movlw   0x10", encode(Mnem::MOVLW, 0x10)),
                  code("        addlw   0xff", encode(Mnem::ADDLW, 0xFF)),
                  code("        return", encode(Mnem::RETURN))});
  delay.fileSymbol("delay.asm")
      .function("delay", 0, "delay")
      .symbol(".eof", 0, kScnNumDebug, kClassFile);

  CoffBuilder unused;
  unused.processor(kDeviceCode)
      .section("spare", kScnTypeCode)
      .words({encode(Mnem::RETLW, 0)})
      .function("spare", 0, "spare");

  Archive library;
  library.cName = dir + "/libdelay.lib";
  for (auto *member : {&delay, &unused}) {
    auto coff = std::make_unique<Coff>(member->build());
    coff->cFileName = member == &delay ? "delay.o" : "spare.o";
    library.cMembers.push_back(std::move(coff));
  }
  if (!library.write())
    std::exit(1);
  std::printf("wrote %s\n", library.cName.c_str());
}

} // namespace

int main(int argc, char **argv) {
  initProgramStreams();
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_example <directory>\n");
    return 1;
  }
  const std::string dir = argv[1];
  makeMain(dir);
  makeUtil(dir);
  makeLibrary(dir);
  return 0;
}
