// Test-only program: performs the actions named by its arguments through the
// message module, so tests can watch the streams and exit code of a real
// process.
//   quiet | verbose | out:TEXT | error:TEXT | warning:TEXT | fatal:TEXT |
//   exit:N | exhaust:N (N threads ask at once for more memory than exists)
#include "Messages.h"

#include <atomic>
#include <cstdlib>
#include <iostream>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace {

void exhaustMemory(int threadCount) {
  std::atomic<int> waiting{threadCount};
  auto askTooMuch = [&] {
    waiting.fetch_sub(1);
    while (waiting.load() > 0)
      std::this_thread::yield();
    ::operator delete(::operator new(std::size_t(1) << 62));
  };
  std::vector<std::thread> threads;
  for (int i = 1; i < threadCount; ++i)
    threads.emplace_back(askTooMuch);
  askTooMuch();
  for (std::thread &thread : threads)
    thread.join();
}

} // namespace

int main(int argc, char **argv) {
  initProgramStreams();
  if (hasQuietSwitch(argc, argv))
    setQuiet(1);
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const std::string::size_type colon = arg.find(':');
    const std::string action = arg.substr(0, colon);
    const std::string value =
        colon == std::string::npos ? std::string() : arg.substr(colon + 1);
    if (action == "verbose")
      setVerbose(1);
    else if (action == "out")
      std::cout << value << '\n';
    else if (action == "error")
      report(MessageKind::Error, "probe", value, 0);
    else if (action == "warning")
      report(MessageKind::Warning, "probe", value, 0);
    else if (action == "fatal")
      report(MessageKind::Error, "probe", value, 1);
    else if (action == "stream") {
      std::ostringstream text;
      text << "streamed " << 42 << '.';
      reportStream(MessageKind::Error, "probe", text, 0);
    } else if (action == "exhaust")
      exhaustMemory(std::atoi(value.c_str()));
    else if (action == "exit")
      printSummaryAndExit(std::atoi(value.c_str()));
  }
  printSummaryAndExit(0);
}
