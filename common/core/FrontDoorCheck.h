// The front door's check mode: before a newly fetched program takes the
// place of the launcher or the updater, the updater starts it as
//   <program> --front-door-check <challenge> ["<manifest>"]
// and takes it only when it ends, within a few seconds, with the answer
// below. Nothing but a build of that program for that architecture knows
// the answer to a fresh challenge; the updater also names the manifest it
// has just accepted, and a new updater answers only when it would accept
// that manifest too (its keys), so it can never refuse every later start.
#pragma once

#include <cstdint>
#include <string>

inline constexpr wchar_t kFrontDoorCheckOption[] = L"--front-door-check";

// The arguments of a check: the challenge, and the manifest's path in
// double quotes when one is given (a path holds no double quote).
std::wstring FormFrontDoorCheckArguments(uint32_t challenge, const wchar_t* manifestPath);

// Whether the arguments (the command line after the program's own name)
// ask for a check: the challenge, and the manifest path or empty.
bool ParseFrontDoorCheck(const wchar_t* arguments, uint32_t* challenge, std::wstring* manifestPath);

// The process command line after the program's own name and the blanks
// after it, as the C runtime hands it to WinMain.
const wchar_t* ArgumentsOfCommandLine(const wchar_t* commandLine);

// The exit code a program named `name` ("qalUpdate.exe") built for `arch`
// ("x86_64") answers: never 0, 1, 100, 259 (still running) or an NTSTATUS
// a crash ends with.
uint32_t FrontDoorCheckAnswer(const char* name, const char* arch, uint32_t challenge);
