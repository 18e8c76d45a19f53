#pragma once
// The program's files: Windows-1251 text, one line a line, and raw bytes.
// Writing replaces the whole file through a temporary one, so a failed save
// leaves the old file as it was. Failures raise EFileError naming the file.
#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>

namespace mirelo {

// Files larger than this are refused before anything is read.
constexpr int64_t kMaxFileSize = 64 * 1024 * 1024;

std::string readFileBytes(const QString& path, int64_t maxSize = kMaxFileSize);
void writeFileBytes(const QString& path, const std::string& bytes);

// Lines end at CR LF, LF or CR; a last line without an end counts.
QStringList readTextLines(const QString& path);
// Every line followed by CR LF.
void writeTextLines(const QString& path, const QStringList& lines);

// Raises Exception with the text (Windows-1251).
[[noreturn]] void raiseText(const QString& text);

}  // namespace mirelo
