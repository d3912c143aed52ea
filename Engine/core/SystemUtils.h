// Small shared services: memory figures, user folders, the English name of the user's language
// and string helpers for paths and numbers. Numbers are printed in the C locale whatever the
// process locale is. Safe from any thread.
#pragma once

#include <string>

namespace GAME {

// Byte counts clamped to 0xFFFFFFFF where the machine has more.
unsigned int GetTotalPhysicalMemory();
unsigned int GetAvailPhysicalMemory();
unsigned int GetTotalVirtualMemory();
unsigned int GetAvailVirtualMemory();
bool IsMemoryValid(const void* pointer, unsigned int size);
unsigned int GetProcessWorkingSetSize();

std::string GetTempPath();
std::string GetDocumentsPath();

// English name of a Windows language identifier; "Unknown" for one that is not listed.
const char* GetLanguageName(unsigned int languageId);
// The name of the user's language (the platform's user language id).
std::string GetUserLanguageName();

void ConvertSlashes(std::string& path);
std::string GetFileBaseName(const std::string& path, bool stripExtension);
std::string IntToString(int value);
std::string FloatToString(float value, int digits);
std::string FloatToString(float value);

} // namespace GAME
