#pragma once
// The responder's one job, shared by the window and the headless service:
// the driver object with its DataEvent answered from the price list.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "responder/driver_object.h"
#include "responder/price_list.h"

namespace mirelo {

// What one terminal message got.
struct TAnswerRecord {
  std::chrono::system_clock::time_point Time;
  int32_t SenderID = 0;
  std::string SenderIP;  // empty unless asked for
  TPriceAnswer Answer;
  int32_t SendResult = 0;  // SendAnswer's result code (not acted on)
};

class TResponder {
 public:
  // The list and the lines are read at each message, as they stand then.
  TResponder(const TPriceList& list, const TNotFoundLines& notFound);
  TResponder(const TResponder&) = delete;
  TResponder& operator=(const TResponder&) = delete;

  TDriverObject& Driver() { return *driver_; }

  // Also look up each sender's address (GetSenderParams, once per sender)
  // for the record.
  bool WantSenderAddress = false;
  // Called after each answer was sent.
  std::function<void(const TAnswerRecord&)> OnAnswered;

  // The DataEvent handler: SenderID, cut, look up, Line1 and Line2,
  // SendAnswer; then the record, when someone takes it. Its outcome is not
  // examined.
  void Answer(const std::string& data, int32_t senderId);

  // Opens or closes the server; the code and text when ResultCode is not 0
  // afterwards, as "%d, %s", else "".
  std::string SetServerOpen(bool open);

 private:
  // The sender's address as GetSenderParams reports it, or "".
  const std::string& senderAddress(int32_t senderId);

  const TPriceList& list_;
  const TNotFoundLines& notFound_;
  std::unique_ptr<TDriverObject> driver_;
  std::unordered_map<int32_t, std::string> senderAddresses_;
  TAnswerRecord record_;
};

// "%d, %s" of a result code and its description.
std::string resultMessage(int32_t code, const std::string& description);

}  // namespace mirelo
