// The daily replay log: "<LogDir>/YYYYMMDD.log", CP932, CR LF, appended one
// line at a time (the file is opened and closed for every line).
#pragma once

#include <ctime>
#include <string>

namespace lumadrift {

// "[Mon Dec  7 05:01:20 2026]": English names whatever the locale.
std::string LogTimeStamp(std::time_t when);

// "<dir>/YYYYMMDD.log" for the local date of when.
std::string LogFilePath(const std::string& dir, std::time_t when);

// Prepares a CP932 line for the log: cut to 2047 bytes without splitting a
// character, then every CR or LF byte that is not the second byte of a
// two-byte character becomes a blank.
std::string SanitizeLogText(const std::string& cp932);

// Creates dir (one level) when missing and appends text (CP932) and CR LF to
// the day's file. false when the file cannot be opened; the line is lost.
bool WriteLogLine(const std::string& dir, const std::string& cp932Text,
                  std::time_t when = std::time(nullptr));

// "[stamp] Active mode error:<name>" and "[stamp] Function error:<name> <params>"
// (CP932 name and parameter text as read from the macro file).
std::string ActiveModeErrorText(std::time_t when, const std::string& name);
std::string FunctionErrorText(std::time_t when, const std::string& name,
                              const std::string& params);

}  // namespace lumadrift
