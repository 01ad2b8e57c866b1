// Splitting a command line into arguments, and building one that splits back the same.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tovi {

// Splits UTF-8 command-line text into arguments (element 0 is the program as written):
// - blanks, TABs, LFs and CRs between arguments are skipped;
// - blank or TAB ends an argument outside quotes; LF and CR inside an argument are kept;
// - a double quote outside quotes opens quotes and is dropped; inside quotes "" is one literal
//   quote, and a single quote closes the quotes and ends the argument at once (text that follows
//   directly starts a new argument);
// - n backslashes before a double quote give n/2 backslashes; with n odd the quote is literal;
// - backslashes not followed by a double quote are kept.
std::vector<std::string> splitCommandLine(std::string_view commandLine);

// Quotes one argument so that splitCommandLine gives it back unchanged; plain words stay bare.
std::string quoteArgument(std::string_view argument);

// Joins arguments with single blanks, quoting each as needed.
std::string buildCommandLine(const std::vector<std::string>& arguments);

}  // namespace tovi
