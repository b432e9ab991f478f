#pragma once

#include <string_view>

// What is wrong with a CUIT (a tax number) as it is stored, if anything.
enum class CuitProblem { None, Form, CheckDigit };

// Checks a CUIT: its form is NN-NNNNNNNN-N (13 characters, dashes at the third and twelfth place, digits
// elsewhere), and its last digit is 11 less the sum of the ten first digits weighted 5 4 3 2 7 6 5 4 3 2, modulo
// 11, where 11 stands for 0 and 10 (a sum whose remainder is 1) fits no digit. A text of another form, blanks
// around it included, is a Form problem; only a well-formed CUIT can have a CheckDigit problem.
CuitProblem cuitProblem(std::string_view cuit);
