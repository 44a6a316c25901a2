// The bytes of one MIDI message. Nearly every message is a channel or system message of one to
// three bytes, so up to 16 bytes stay inside the object and only longer ones (SysEx) take a heap
// buffer: a file of a million notes then reads without millions of tiny allocations. It reads and
// compares like a byte vector and converts to one.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <span>
#include <stdexcept>
#include <vector>

namespace sonora {

class MIDIBytes {
public:
    using value_type = uint8_t;
    using size_type = size_t;
    using difference_type = std::ptrdiff_t;
    using reference = uint8_t&;
    using const_reference = const uint8_t&;
    using pointer = uint8_t*;
    using const_pointer = const uint8_t*;
    using iterator = uint8_t*;
    using const_iterator = const uint8_t*;

    static constexpr size_t inlineCapacity = 16;

    MIDIBytes() noexcept { inline_[0] = 0; }
    MIDIBytes(std::initializer_list<uint8_t> bytes) : MIDIBytes() { append(bytes.begin(), bytes.size()); }
    MIDIBytes(const std::vector<uint8_t>& bytes) : MIDIBytes() { append(bytes.data(), bytes.size()); }
    explicit MIDIBytes(std::span<const uint8_t> bytes) : MIDIBytes() { append(bytes.data(), bytes.size()); }
    template <std::input_iterator It>
    MIDIBytes(It first, It last) : MIDIBytes() {
        if constexpr (std::contiguous_iterator<It>)
            append(std::to_address(first), size_t(last - first));
        else
            for (; first != last; ++first) push_back(uint8_t(*first));
    }
    MIDIBytes(const MIDIBytes& other) : MIDIBytes() { append(other.data(), other.size()); }
    MIDIBytes(MIDIBytes&& other) noexcept : MIDIBytes() { steal(other); }
    ~MIDIBytes() { release(); }

    MIDIBytes& operator=(const MIDIBytes& other) {
        if (this != &other) assign(other.begin(), other.end());
        return *this;
    }
    MIDIBytes& operator=(MIDIBytes&& other) noexcept {
        if (this != &other) {
            release();
            steal(other);
        }
        return *this;
    }
    MIDIBytes& operator=(std::initializer_list<uint8_t> bytes) {
        assign(bytes.begin(), bytes.end());
        return *this;
    }

    operator std::vector<uint8_t>() const { return std::vector<uint8_t>(begin(), end()); }
    operator std::span<const uint8_t>() const { return {data(), size()}; }

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    size_t capacity() const { return capacity_; }
    uint8_t* data() { return onHeap() ? heap_ : inline_; }
    const uint8_t* data() const { return onHeap() ? heap_ : inline_; }
    iterator begin() { return data(); }
    iterator end() { return data() + size_; }
    const_iterator begin() const { return data(); }
    const_iterator end() const { return data() + size_; }
    const_iterator cbegin() const { return begin(); }
    const_iterator cend() const { return end(); }
    uint8_t& operator[](size_t i) { return data()[i]; }
    const uint8_t& operator[](size_t i) const { return data()[i]; }
    uint8_t& at(size_t i) {
        if (i >= size_) throw std::out_of_range("MIDIBytes::at");
        return data()[i];
    }
    const uint8_t& at(size_t i) const {
        if (i >= size_) throw std::out_of_range("MIDIBytes::at");
        return data()[i];
    }
    uint8_t& front() { return data()[0]; }
    const uint8_t& front() const { return data()[0]; }
    uint8_t& back() { return data()[size_ - 1]; }
    const uint8_t& back() const { return data()[size_ - 1]; }

    void reserve(size_t wanted) {
        if (wanted <= capacity_) return;
        if (wanted > std::numeric_limits<uint32_t>::max()) throw std::length_error("MIDIBytes: message too long");
        auto* grown = new uint8_t[wanted];
        const uint32_t kept = size_;
        if (kept) std::memcpy(grown, data(), kept);
        release();
        heap_ = grown;
        capacity_ = uint32_t(wanted);
        size_ = kept;
    }
    void clear() { size_ = 0; }
    void push_back(uint8_t byte) {
        grow(size_t(size_) + 1);
        data()[size_++] = byte;
    }
    void pop_back() { --size_; }
    void resize(size_t count, uint8_t value = 0) {
        if (count > size_) {
            grow(count);
            std::memset(data() + size_, value, count - size_);
        }
        size_ = uint32_t(count);
    }
    void assign(size_t count, uint8_t value) {
        clear();
        resize(count, value);
    }
    template <std::input_iterator It>
    void assign(It first, It last) {
        if constexpr (std::contiguous_iterator<It>) {
            // The source may lie inside these bytes: copy it out first when it needs a new buffer.
            const auto count = size_t(std::distance(first, last));
            if (count > capacity_) {
                MIDIBytes copy;
                copy.append(std::to_address(first), count);
                *this = std::move(copy);
                return;
            }
            if (count) std::memmove(data(), std::to_address(first), count);
            size_ = uint32_t(count);
        } else {
            clear();
            insert(end(), first, last);
        }
    }
    template <std::input_iterator It>
    iterator insert(const_iterator position, It first, It last) {
        const size_t at = size_t(position - begin());
        if constexpr (std::contiguous_iterator<It>) {
            // A range inside these bytes would move when they grow: insert a copy of it.
            const auto* source = std::to_address(first);
            if (first != last && source >= data() && source < data() + size_) {
                const MIDIBytes copy(first, last);
                return insert(begin() + at, copy.begin(), copy.end());
            }
        }
        if constexpr (std::forward_iterator<It>) {
            const auto count = size_t(std::distance(first, last));
            grow(size_t(size_) + count);
            std::memmove(data() + at + count, data() + at, size_ - at);
            std::copy(first, last, data() + at);
            size_ = uint32_t(size_ + count);
        } else {
            MIDIBytes read;
            for (; first != last; ++first) read.push_back(uint8_t(*first));
            insert(begin() + at, read.begin(), read.end());
        }
        return begin() + at;
    }
    iterator erase(const_iterator first, const_iterator last) {
        const size_t at = size_t(first - begin()), count = size_t(last - first);
        std::memmove(data() + at, data() + at + count, size_ - at - count);
        size_ = uint32_t(size_ - count);
        return begin() + at;
    }

    friend bool operator==(const MIDIBytes& a, const MIDIBytes& b) {
        return a.size_ == b.size_ && (a.size_ == 0 || std::memcmp(a.data(), b.data(), a.size_) == 0);
    }
    friend bool operator==(const MIDIBytes& a, const std::vector<uint8_t>& b) {
        return a.size_ == b.size() && (b.empty() || std::memcmp(a.data(), b.data(), b.size()) == 0);
    }

private:
    bool onHeap() const { return capacity_ > inlineCapacity; }
    void release() {
        if (onHeap()) delete[] heap_;
        capacity_ = inlineCapacity;
        size_ = 0;
    }
    void steal(MIDIBytes& other) {
        if (other.onHeap()) {
            heap_ = other.heap_;
            capacity_ = other.capacity_;
        } else {
            std::memcpy(inline_, other.inline_, other.size_);
        }
        size_ = other.size_;
        other.capacity_ = inlineCapacity;
        other.size_ = 0;
    }
    // Room for `wanted` bytes; a heap buffer grows by half again so appends stay amortised.
    void grow(size_t wanted) {
        if (wanted > capacity_) reserve(std::max(wanted, size_t(capacity_) + capacity_ / 2));
    }
    void append(const uint8_t* bytes, size_t count) {
        grow(size_t(size_) + count);
        if (count) std::memcpy(data() + size_, bytes, count);
        size_ = uint32_t(size_ + count);
    }

    union {
        uint8_t inline_[inlineCapacity];
        uint8_t* heap_;
    };
    uint32_t size_ = 0;
    uint32_t capacity_ = inlineCapacity;
};

}  // namespace sonora
