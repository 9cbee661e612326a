// The few places where Windows and POSIX differ for the core and the command
// line: file names and arguments are UTF-8 text everywhere in the program,
// and Windows takes them as UTF-16.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kestrane {

// A file name given as UTF-8 text, as the file system takes it.
std::filesystem::path PathFromUtf8(std::string_view utf8);
// fopen of a UTF-8 file name.
std::FILE* OpenFileUtf8(const std::string& path, const char* mode);
void UnsetEnvironment(const char* name);
// The program's arguments as UTF-8 (Windows hands main() the ANSI code page).
std::vector<std::string> CommandLineArguments(int argc, char** argv);
// UTF-8 text written to a console shows as such.
void UseUtf8Console();

#ifdef _WIN32
std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(const wchar_t* s, std::size_t n);
#endif

}  // namespace kestrane
