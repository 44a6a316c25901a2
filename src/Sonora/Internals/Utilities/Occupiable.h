// Emptiness and membership tests and zero-filled collections, for any standard container or text.
#pragma once

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <iterator>

namespace sonora {

template <typename Collection>
concept Occupiable = requires(const Collection& c) {
    { c.empty() } -> std::convertible_to<bool>;
};

// isEmpty / isNotEmpty.
template <Occupiable Collection>
bool isEmpty(const Collection& collection) {
    return collection.empty();
}
template <Occupiable Collection>
bool isNotEmpty(const Collection& collection) {
    return !collection.empty();
}

// doesNotContain(_:): not contains.
template <typename Sequence, typename Element>
bool doesNotContain(const Sequence& sequence, const Element& element) {
    return std::find(std::begin(sequence), std::end(sequence), element) == std::end(sequence);
}

// init(zeros:): a collection of the given number of zeros.
template <typename Collection>
Collection zeros(size_t count) {
    Collection collection;
    collection.insert(collection.end(), count, typename Collection::value_type(0));
    return collection;
}

}  // namespace sonora
