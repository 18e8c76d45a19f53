#include "responder/responder.h"

#include "platform/format.h"

namespace mirelo {

TResponder::TResponder(const TPriceList& list, const TNotFoundLines& notFound)
    : list_(list), notFound_(notFound) {
  driver_ = std::make_unique<TDriverObject>(
      [this](const std::string& data, int32_t senderId) { Answer(data, senderId); });
}

void TResponder::Answer(const std::string& data, int32_t senderId) {
  // The record's time is when the code arrived: its taker may time the answer.
  auto arrived =
      OnAnswered ? std::chrono::system_clock::now() : std::chrono::system_clock::time_point{};
  // The answer goes back to the terminal that sent the code.
  driver_->SetSenderID(senderId);
  // One record serves every scan: its texts keep their memory.
  TAnswerRecord& record = record_;
  // Asked before the answer goes: a terminal that leaves meanwhile is still named.
  if (OnAnswered && WantSenderAddress)
    record.SenderIP = senderAddress(senderId);
  else
    record.SenderIP.clear();
  answerFor(list_, notFound_, data, record.Answer);
  driver_->SetLine1(record.Answer.Line1);
  driver_->SetLine2(record.Answer.Line2);
  record.SendResult = driver_->SendAnswer();
  if (!OnAnswered) return;
  record.Time = arrived;
  record.SenderID = senderId;
  OnAnswered(record);
}

const std::string& TResponder::senderAddress(int32_t senderId) {
  // A client ID keeps its address while it lives and is never given again,
  // so an address once asked for stays right.
  if (auto known = senderAddresses_.find(senderId); known != senderAddresses_.end())
    return known->second;
  static const std::string unknown;
  if (driver_->GetSenderParams() != 0) return unknown;
  if (senderAddresses_.size() >= 4096) senderAddresses_.clear();
  return senderAddresses_.emplace(senderId, driver_->SenderIP()).first->second;
}

std::string TResponder::SetServerOpen(bool open) {
  if (open)
    driver_->OpenServer();
  else
    driver_->CloseServer();
  int32_t code = driver_->ResultCode();
  if (code == 0) return {};
  return resultMessage(code, driver_->ResultCodeDescription());
}

std::string resultMessage(int32_t code, const std::string& description) {
  return format("%d, %s", code, description.c_str());
}

}  // namespace mirelo
