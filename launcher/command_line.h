#pragma once

// Whether any argument after the program name is exactly flag ("-u", "-s"); the program name
// itself and look-alikes such as "-U" or "--u" never count.
bool hasExactArgument(int argc, char** argv, const char* flag);
