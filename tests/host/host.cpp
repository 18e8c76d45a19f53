// A host built only against the installed driver: the interface header and
// the runtime. It creates the object by its programmatic identifier, opens
// the driver's UDP server on loopback, plays a terminal scanning a barcode,
// receives DataEvent on its own thread by polling the loop's descriptor, and
// checks that descriptors and threads are as they were once the object goes.
// Exit status 0 when everything held; the first failure is printed.
#include <arpa/inet.h>
#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "mirelo/vistel.h"
#include "platform/com/connection_point.h"
#include "platform/message_loop.h"

using namespace mirelo;

namespace {

int countEntries(const char* folder) {
  int count = 0;
  if (DIR* dir = ::opendir(folder)) {
    while (::readdir(dir)) ++count;
    ::closedir(dir);
  }
  return count;
}

int fail(const std::string& what) {
  std::fprintf(stderr, "host: %s\n", what.c_str());
  return 1;
}

class DataSink final : public ComObject<IVistelEvents> {
 public:
  std::string data;
  HRESULT GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                 UINT*) override {
    // Arguments arrive last first: Data, then SenderID.
    if (id == DISPID_DataEvent && params->cArgs == 2) data = Variant(params->rgvarg[1]).toAnsi();
    return S_OK;
  }
};

uint16_t freeUdpPort() {
  int s = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(s);
  return ntohs(address.sin_port);
}

int run() {
  MessageLoop& loop = MessageLoop::current();
  const int descriptors = countEntries("/proc/self/fd");
  const int threads = countEntries("/proc/self/task");
  const uint16_t port = freeUdpPort();
  {
    ComPtr<IVistel4> object;
    if (FAILED(createVistelObject(IID_IVistel4, object.putVoid())))
      return fail("cannot create Addin.Vistel");
    ComPtr<DataSink> sink(new DataSink());
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    if (FAILED(object.as<IConnectionPointContainer>()->FindConnectionPoint(DIID_IVistelEvents,
                                                                           point.put())) ||
        FAILED(point->Advise(static_cast<IDispatch*>(sink.get()), &cookie)))
      return fail("cannot connect the event sink");
    LONG code = -1;
    object->put_ServerProtocol(ptUDP);
    object->put_ServerPort(port);
    object->OpenServer(&code);
    if (code != 0) return fail("OpenServer: " + std::to_string(code));

    // The terminal's scan: 0xAB, a sequence byte, the barcode.
    int terminal = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(port);
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string scan = std::string("\xAB\x00", 2) + "4600000000001";
    ::sendto(terminal, scan.data(), scan.size(), 0, reinterpret_cast<sockaddr*>(&server),
             sizeof server);

    pollfd entry{loop.fd(), POLLIN, 0};
    for (int round = 0; round < 50 && sink->data.empty(); ++round) {
      ::poll(&entry, 1, 100);
      loop.processMessages();
    }
    ::close(terminal);
    if (sink->data != "4600000000001") return fail("no DataEvent with the barcode");
    if (countEntries("/proc/self/task") != threads) return fail("the driver started a thread");
    object->CloseServer(&code);
    point->Unadvise(cookie);
  }
  CoFreeUnusedLibraries();
  if (countEntries("/proc/self/fd") != descriptors) return fail("descriptors left open");
  if (countEntries("/proc/self/task") != threads) return fail("threads left running");
  std::puts("host: ok");
  return 0;
}

}  // namespace

int main() {
  return run();
}
