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
  // Asked before the answer goes: a terminal that leaves meanwhile is still named.
  std::string address = OnAnswered && WantSenderAddress ? senderAddress(senderId) : std::string();
  TPriceAnswer answer = answerFor(list_, notFound_, data);
  driver_->SetLine1(answer.Line1);
  driver_->SetLine2(answer.Line2);
  int32_t sent = driver_->SendAnswer();
  if (!OnAnswered) return;
  TAnswerRecord record;
  record.Time = arrived;
  record.SenderID = senderId;
  record.SenderIP = std::move(address);
  record.Answer = std::move(answer);
  record.SendResult = sent;
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
