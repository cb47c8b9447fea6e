// Tables of named codes (compass styles, pages, commands): one row for every
// code, in the order of the codes, so that a code indexes its row and a new
// code is one more row.
#pragma once

#include <cstddef>

// Whether row i of `table` is the row of code i.
template <typename Row, size_t N, typename Code>
constexpr bool rows_in_code_order(const Row (&table)[N], Code Row::*code)
{
    for (size_t i = 0; i < N; ++i)
        if (static_cast<size_t>(table[i].*code) != i)
            return false;
    return true;
}
