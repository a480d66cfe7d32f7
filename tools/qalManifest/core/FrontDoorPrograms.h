// What build takes as a front-door program to offer players (see
// FrontDoorOffers.h for the offer itself).
#pragma once

#include <string>

// Why bytes cannot be offered as a program for arch ("i686", "x86_64"), or
// empty: a Windows executable whose PE header names that machine. An
// updater that fetched a program of the other architecture would put a
// launcher on the player's machine that does not start.
std::string FrontDoorProgramRefusal(const std::string& bytes, const char* arch);

// The version a front door's VERSION file holds: one line of 1 to 4
// numbers joined by dots, with or without its line end. False for
// anything else.
bool ReadFrontDoorVersionFile(const std::string& content, std::string* version);
