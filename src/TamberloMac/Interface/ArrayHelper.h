// Small list operations of the editor's interface code, on std::vector.
//
//   distinctArr({3, 1, 3, 2})                 → {3, 1, 2}
//   map(names, [](auto& n) { return n + "!"; })
//   prefix(list, 2), suffix(list, 2)
#pragma once

#include <algorithm>
#include <cstddef>
#include <type_traits>
#include <utility>
#include <vector>

namespace tamberlo {

// The elements without repeats: the first occurrence of each is kept, in order.
template <typename T>
std::vector<T> distinctArr(const std::vector<T>& items) {
    std::vector<T> out;
    for (const auto& item : items)
        if (std::find(out.begin(), out.end(), item) == out.end()) out.push_back(item);
    return out;
}

// The block's result for each element, in order; with no block (nullptr), the list itself.
template <typename T, typename Block>
auto map(const std::vector<T>& items, Block&& block) {
    std::vector<std::decay_t<std::invoke_result_t<Block&, const T&>>> out;
    out.reserve(items.size());
    for (const auto& item : items) out.push_back(block(item));
    return out;
}
template <typename T>
std::vector<T> map(const std::vector<T>& items, std::nullptr_t) {
    return items;
}

// The elements for which the block holds; with no block (nullptr), the list itself.
template <typename T, typename Block>
std::vector<T> filter(const std::vector<T>& items, Block&& block) {
    std::vector<T> out;
    for (const auto& item : items)
        if (block(item)) out.push_back(item);
    return out;
}
template <typename T>
std::vector<T> filter(const std::vector<T>& items, std::nullptr_t) {
    return items;
}

// A bubble sort: passes run from the end of the list towards its start and exchange two neighbours
// (earlier, later) when the block returns true for them; it stops after a pass without exchange.
template <typename T, typename Block>
std::vector<T> sortBy(std::vector<T> items, Block&& block) {
    for (bool exchanged = true; exchanged;) {
        exchanged = false;
        for (size_t j = items.size(); j-- > 1;) {
            if (block(items[j - 1], items[j])) {
                std::swap(items[j - 1], items[j]);
                exchanged = true;
            }
        }
    }
    return items;
}

// The first or last n elements; the whole list when it is shorter; nothing for n < 1.
template <typename T>
std::vector<T> prefix(const std::vector<T>& items, long n) {
    if (n < 1) return {};
    if (size_t(n) >= items.size()) return items;
    return std::vector<T>(items.begin(), items.begin() + n);
}
template <typename T>
std::vector<T> suffix(const std::vector<T>& items, long n) {
    if (n < 1) return {};
    if (size_t(n) >= items.size()) return items;
    return std::vector<T>(items.end() - n, items.end());
}

}  // namespace tamberlo
