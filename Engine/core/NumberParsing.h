// Number parsing with the C library's rules (atoi, atof, sscanf " %d " / " %f ") but always in
// the C locale, whatever locale the process has set: data files write a point as the decimal
// separator. Safe from any thread.
#pragma once

namespace GAME {

// Like sscanf(text, " %d ", &value) == 1.
bool ScanInt(const char* text, int& value);
// Like sscanf(text, " %f ", &value) == 1.
bool ScanFloat(const char* text, float& value);
// Like atoi / atof: 0 when the text does not start with a number.
int AtoI(const char* text);
float AtoF(const char* text);
// Like sscanf(text, " %d %d ", &a, &b) == 2.
bool ScanInt2(const char* text, int& a, int& b);

} // namespace GAME
