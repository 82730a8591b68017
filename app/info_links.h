#pragma once

#include <string>

// Where the info window's links lead and what the web link shows, as fixed
// when the program was built.
struct TInfoLinks {
  std::string Mail;      // the mail link's address; empty: no mail link
  std::string Web;       // the web link's address
  std::string WebText;   // the web link's text
  std::string Donation;  // the donation button's address
};

// The links of this build for a program in program_dir. A build without a
// web address leads the web link to the documentation: the README installed
// with the program, or, for a program that was not installed, the README of
// the sources it was built from. A build without a donation address leads the
// donation button where the web link leads.
TInfoLinks BuiltInfoLinks(const std::string& program_dir);

// The "file://" address of an absolute path with '/' between its names
// ("file:///C:/..." for one on a drive); every other byte than letters,
// digits, '/', '-', '.', '_' and '~' is percent-encoded.
std::string FileAddress(const std::string& path);
