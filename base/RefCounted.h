#pragma once
// A thread-safe reference count kept inside a shared record, and the handle
// that holds one reference to such a record.
//
// A record type derives publicly from RefCounted and is made with new; it
// starts with one reference, which the first CountedRef adopts. Copying a
// CountedRef adds a reference; destroying or reassigning one, or calling
// drop, gives its reference up, and giving up the last one deletes the
// record (its destructor frees what it owns). Handles to one record may be
// copied and dropped on different threads: a copy adds its reference with a
// relaxed increment (whoever copies already holds a reference, so the
// record cannot go meanwhile), and every drop is an acquire-release
// decrement, so all that was done through the other handles happens before
// the record is deleted. The record's own fields are not guarded: fill a
// record before handing out copies.

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>

// The count inside a record; not copyable, as the atomic is not.
class RefCounted {
  protected:
    RefCounted() = default;
    ~RefCounted() = default;

  private:
    template <class Record> friend class CountedRef;

    std::atomic<int32_t> refCount{1};
};

template <class Record> class CountedRef {
  public:
    // No record.
    CountedRef() = default;
    // Adopts the reference a record is made with.
    explicit CountedRef(Record* made) noexcept : record(made) {}
    // Adds a reference to a record that a live handle holds.
    static CountedRef share(Record* held) noexcept {
        if (held) {
            counter(held).fetch_add(1, std::memory_order_relaxed);
        }
        return CountedRef(held);
    }

    CountedRef(const CountedRef& other) noexcept : CountedRef(share(other.record)) {}
    CountedRef(CountedRef&& other) noexcept : record(std::exchange(other.record, nullptr)) {}
    // Assignment takes its reference to the new record first and drops the
    // old one last: `old` holds what was here until the end of the block.
    CountedRef& operator=(const CountedRef& other) noexcept {
        if (this != &other && record != other.record) {
            CountedRef old(other);
            std::swap(record, old.record);
        }
        return *this;
    }
    CountedRef& operator=(CountedRef&& other) noexcept {
        if (this != &other) {
            CountedRef old(std::move(other));
            std::swap(record, old.record);
        }
        return *this;
    }
    ~CountedRef() { drop(); }

    // Drops this handle's reference and leaves it empty. Returns the record
    // when that was the last reference: the caller then owns it alone, and
    // the returned pointer deletes it.
    std::unique_ptr<Record> drop() noexcept {
        Record* r = std::exchange(record, nullptr);
        if (!r || counter(r).fetch_sub(1, std::memory_order_acq_rel) != 1) {
            return nullptr;
        }
        return std::unique_ptr<Record>(r);
    }

    Record* get() const noexcept { return record; }
    Record* operator->() const noexcept { return record; }
    explicit operator bool() const noexcept { return record != nullptr; }

  private:
    static std::atomic<int32_t>& counter(Record* r) noexcept {
        return static_cast<RefCounted*>(r)->refCount;
    }
    Record* record = nullptr;
};
