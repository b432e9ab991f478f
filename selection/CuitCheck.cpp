#include "selection/CuitCheck.h"

#include <array>
#include <cstddef>

CuitProblem cuitProblem(std::string_view cuit) {
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    if (cuit.size() != 13) return CuitProblem::Form;
    std::array<int, 11> digits{};
    std::size_t count = 0;
    for (std::size_t i = 0; i < cuit.size(); ++i) {
        if (i == 2 || i == 11) {
            if (cuit[i] != '-') return CuitProblem::Form;
        } else if (isDigit(cuit[i])) {
            digits[count++] = cuit[i] - '0';
        } else {
            return CuitProblem::Form;
        }
    }
    constexpr std::array<int, 10> kWeights{5, 4, 3, 2, 7, 6, 5, 4, 3, 2};
    int sum = 0;
    for (std::size_t i = 0; i < kWeights.size(); ++i) sum += digits[i] * kWeights[i];
    const int check = (11 - sum % 11) % 11;
    return check == digits[10] ? CuitProblem::None : CuitProblem::CheckDigit;
}
