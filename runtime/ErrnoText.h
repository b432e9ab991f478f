#pragma once

#include <string>

// The words, in Spanish, for an error of the C library (an errno value), as a message shows them after what failed:
// "no queda espacio en el disco". Never empty.
std::string errnoText(int error);
