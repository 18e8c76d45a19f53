#include "tools/mirelo/safe_output.h"

namespace mirelo::shell {

EscapingBuffer::~EscapingBuffer() {
  flushLead();
}

void EscapingBuffer::escape(unsigned byte) {
  const char digits[] = "0123456789ABCDEF";
  const char text[] = {'\\', 'x', digits[(byte >> 4) & 0xF], digits[byte & 0xF]};
  target_->sputn(text, sizeof text);
}

void EscapingBuffer::flushLead() {
  if (lead_) target_->sputc(static_cast<char>(0xC2));
  lead_ = false;
}

void EscapingBuffer::put(unsigned char c) {
  if (lead_) {
    lead_ = false;
    // U+0080..U+009F: the C1 controls, escaped by their code.
    if (c >= 0x80 && c <= 0x9F) {
      escape(c);
      return;
    }
    target_->sputc(static_cast<char>(0xC2));
  }
  if (c == 0xC2) {
    lead_ = true;
  } else if ((c < 0x20 && c != '\n') || c == 0x7F) {
    escape(c);
  } else {
    target_->sputc(static_cast<char>(c));
  }
}

EscapingBuffer::int_type EscapingBuffer::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  put(static_cast<unsigned char>(traits_type::to_char_type(c)));
  return c;
}

std::streamsize EscapingBuffer::xsputn(const char* data, std::streamsize count) {
  for (std::streamsize i = 0; i < count; ++i) put(static_cast<unsigned char>(data[i]));
  return count;
}

int EscapingBuffer::sync() {
  flushLead();
  return target_->pubsync();
}

void EscapingBuffer::writeControls(std::string_view text) {
  flushLead();
  target_->sputn(text.data(), static_cast<std::streamsize>(text.size()));
}

void writeControls(std::ostream& out, std::string_view text) {
  if (auto* escaping = dynamic_cast<EscapingBuffer*>(out.rdbuf()))
    escaping->writeControls(text);
  else
    out << text;
}

}  // namespace mirelo::shell
