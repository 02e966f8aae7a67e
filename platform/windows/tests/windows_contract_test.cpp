// The driver contract on a real serial line of the system (Wine in CI): the port that
// TALVIK_DRIVEN_PORT names is a pseudo-terminal whose far end scripts/serial-bridge.py holds; the
// test drives that far end over a TCP connection to the bridge (TALVIK_DRIVEN_BRIDGE names its
// port on 127.0.0.1). Each case gets a fresh pseudo-terminal.

#include <winsock2.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "platform/devices/DeviceWorldRegistry.h"
#include "testing/CommContract.h"
#include "testing/UseBench.h"

namespace win::contract {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') {
    throw std::runtime_error(std::string(name) +
                             " is not set (scripts/run-windows-tests.sh sets it)");
  }
  return value;
}

// One connection to the bridge; one command per line, one answer per line.
class Bridge {
 public:
  explicit Bridge(unsigned short port) {
    WSADATA data{};
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) {
      throw std::runtime_error("no Winsock");
    }
    socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = ::htons(port);
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    if (socket_ == INVALID_SOCKET ||
        ::connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      const int error = ::WSAGetLastError();
      Close();
      throw std::runtime_error("no serial bridge on port " + std::to_string(port) + ": " +
                               std::to_string(error));
    }
  }
  ~Bridge() { Close(); }
  Bridge(const Bridge&) = delete;
  Bridge& operator=(const Bridge&) = delete;

  // Sends the command and returns what follows "ok" in the answer.
  std::string Ask(const std::string& command) {
    const std::string request = command + '\n';
    if (::send(socket_, request.data(), static_cast<int>(request.size()), 0) !=
        static_cast<int>(request.size())) {
      throw std::runtime_error("the serial bridge went away");
    }
    std::string answer;
    char c = 0;
    while (::recv(socket_, &c, 1, 0) == 1 && c != '\n') {
      answer.push_back(c);
    }
    if (answer.rfind("ok", 0) != 0) {
      throw std::runtime_error(command + ": " + answer);
    }
    return answer.size() > 3 ? answer.substr(3) : std::string();
  }

 private:
  void Close() {
    if (socket_ != INVALID_SOCKET) {
      ::closesocket(socket_);
      socket_ = INVALID_SOCKET;
    }
    ::WSACleanup();
  }

  SOCKET socket_ = INVALID_SOCKET;
};

std::string Hex(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char c : bytes) {
    text += kDigits[c >> 4];
    text += kDigits[c & 15];
  }
  return text;
}

std::string Bytes(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

class WindowsContractWorld {
 public:
  // What Wine's serial driver does on a pseudo-terminal where Windows' drivers keep the contract,
  // and what Windows itself promises less.
  static constexpr std::array<Skip, 9> kSkipped{{
      {"QueuedBytesAreTakenAtOnce",
       "Wine starts an overlapped read with an interval time-out as pending even when the input "
       "queue already holds the bytes it asks for (ERROR_IO_PENDING, done a moment later)"},
      {"MaxdwordIntervalReturnsAtOnceOrWithTheFirstByte",
       "Wine keeps a read with ReadIntervalTimeout MAXDWORD and no total limit pending while "
       "nothing arrives, instead of returning at once with what is queued, even nothing"},
      {"EventsWaitForTheMaskAndAreKeptForTheNextWait",
       "Wine's event wait reads the modem lines (TIOCMGET), which a pseudo-terminal lacks: a "
       "wait that finds no event at once ends a moment later as cancelled, with mask 0; and it "
       "finds EV_RXCHAR at once whenever unread bytes are queued, not only new ones"},
      {"WritesReachTheFarEndAndTransmitEmptyFollows",
       "the EV_TXEMPTY wait ends a moment after it starts, as cancelled with mask 0: Wine's event "
       "wait reads the modem lines (TIOCMGET), which a pseudo-terminal lacks"},
      {"PurgeEndsPendingOperationsAndEmptiesTheQueues",
       "Wine's PurgeComm only flushes the queues: PURGE_RXABORT and PURGE_TXABORT leave pending "
       "reads and writes pending, and it takes flags beyond the four PURGE_ bits"},
      {"ClosingEndsWhatIsPendingAndLaterCallsFail",
       "Windows completes what a close cancelled asynchronously, soon after CloseHandle returns, "
       "and ends a pending event wait as cancelled (ERROR_OPERATION_ABORTED) rather than with "
       "success and mask 0 (platform/Win32.h); WindowsLineTest.EchoesAndClosingEndsWhatIsPending "
       "checks what Windows promises"},
      {"AVanishedDeviceEndsWhatIsPendingAndRefusesLaterCalls",
       "when the far end of a pseudo-terminal closes, Wine ends a pending read with "
       "ERROR_BROKEN_PIPE, still starts later reads and event waits (ERROR_IO_PENDING), and fails "
       "writes and ClearCommError with ERROR_NOT_READY, where Windows' drivers of a pulled-out "
       "adapter answer ERROR_OPERATION_ABORTED and then ERROR_BAD_COMMAND"},
      {"LineErrorsRaiseTheirEventsAndAbortOnErrorHoldsReads",
       "a pseudo-terminal has no line errors or breaks"},
      {"ModemLinesFollowTheOutputsAndRaiseTheirEvents", "a pseudo-terminal has no modem lines"},
  }};

  WindowsContractWorld()
      : path_("\\\\.\\" + Environment("TALVIK_DRIVEN_PORT")),
        bridge_(static_cast<unsigned short>(std::stoi(Environment("TALVIK_DRIVEN_BRIDGE")))) {
    bridge_.Ask("reset");
    InstallDeviceWorld(CreateDeviceWorld(DeviceWorldKind::Host));
  }
  ~WindowsContractWorld() { bench::UseBench(); }
  WindowsContractWorld(const WindowsContractWorld&) = delete;
  WindowsContractWorld& operator=(const WindowsContractWorld&) = delete;

  std::string Path() const { return path_; }
  void Send(const std::string& bytes) { bridge_.Ask("send " + Hex(bytes)); }
  std::string Received(DWORD ms) { return Bytes(bridge_.Ask("recv " + std::to_string(ms))); }
  void GoAway() { bridge_.Ask("gone"); }
  void RaiseLineError(DWORD) { ADD_FAILURE() << "a pseudo-terminal has no line errors"; }
  void SetLoops(bool, bool) { ADD_FAILURE() << "a pseudo-terminal has no modem lines"; }

 private:
  std::string path_;
  Bridge bridge_;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Windows, CommContract, WindowsContractWorld);

}  // namespace
}  // namespace win::contract
