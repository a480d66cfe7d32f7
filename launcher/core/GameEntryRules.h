// The rules of the game-entry hand-off that need no Windows API: which
// navigation counts as entering the game, and the updater's parameter string.
#pragma once

#include <string>

// Built-in marker of the login page's entry address (case-sensitive).
extern const wchar_t kBuiltInEntryMarker[];
// What a configured resource base address must contain to be handed on.
extern const wchar_t kResourceBaseMarker[];
// Joins the base address to the entry address's query string.
extern const wchar_t kResourceBaseParameter[];

// True when `address` contains the built-in marker, or the non-empty
// `enterMarker`. A null address matches nothing; a null marker counts as empty.
bool IsGameEntryAddress(const wchar_t* address, const wchar_t* enterMarker);

// True when the configured base address is to be handed to the updater.
bool IsAcceptableResourceBase(const wchar_t* urlBase);

// The updater's parameter string: the entry address, "&urlBase=" and the base
// address when that is acceptable, one space and the launcher's path in double
// quotes. Built whole, however long the pieces are.
std::wstring BuildUpdaterParameters(const wchar_t* entryAddress, const wchar_t* urlBase,
                                    const wchar_t* launcherPath);
