#pragma once
// IMessagePump: the message loop of a server library, for the host that
// loaded it.
//
// Every module that carries the platform layer has its own per-thread message
// loop, so an object made inside a loaded library posts its messages (socket
// notifications, queued terminal messages) to the library's loop, which the
// host's loop knows nothing of. A server's class factories answer this
// interface; the creation runtime (creation.h) uses it to drive the library's
// loop from the host's own, so that hosts run one loop as before.
#include "platform/com/types.h"
#include "platform/com/unknown.h"

namespace mirelo {

inline constexpr IID IID_IMessagePump{
    0x930A9688, 0x3823, 0x44EA, {0xAB, 0x90, 0xE2, 0x4E, 0x10, 0xFD, 0x07, 0x46}};

class IMessagePump : public IUnknown {
 public:
  static constexpr const IID& kIid = IID_IMessagePump;
  using Base = IUnknown;

  // The descriptor of the calling thread's loop in the server: readable
  // while messages may be pending there. It stays the server's to close.
  virtual HRESULT GetDescriptor(INT* pFd) = 0;
  // Delivers everything pending on the calling thread's loop in the server
  // without blocking; pDelivered (may be null) gets how many messages.
  virtual HRESULT ProcessMessages(INT* pDelivered) = 0;

 protected:
  ~IMessagePump() = default;
};

// The pump of the module this code is linked into (its MessageLoop), for a
// class factory to answer IMessagePump with. Its failures (a loop that cannot
// be made) come back as their status.
HRESULT pumpGetDescriptor(INT* pFd);
HRESULT pumpProcessMessages(INT* pDelivered);

}  // namespace mirelo
