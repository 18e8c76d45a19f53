#include "responder/responder.h"

#include "platform/format.h"

namespace mirelo {

TResponder::TResponder(const TPriceList& list, const TNotFoundLines& notFound)
    : list_(list), notFound_(notFound) {
  driver_ = std::make_unique<TDriverObject>(
      [this](const std::string& data, int32_t senderId) { Answer(data, senderId); });
}

void TResponder::Answer(const std::string& data, int32_t senderId) {
  TAnswerRecord record;
  record.Time = std::chrono::system_clock::now();
  record.SenderID = senderId;
  // The answer goes back to the terminal that sent the code.
  driver_->SetSenderID(senderId);
  if (WantSenderAddress && driver_->GetSenderParams() == 0) record.SenderIP = driver_->SenderIP();
  record.Answer = answerFor(list_, notFound_, data);
  driver_->SetLine1(record.Answer.Line1);
  driver_->SetLine2(record.Answer.Line2);
  record.SendResult = driver_->SendAnswer();
  if (OnAnswered) OnAnswered(record);
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
