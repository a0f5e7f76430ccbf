#include "host/text_convert.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "host/mj_ref.h"
#include "platform/platform.h"

namespace qn {

namespace {

// Buffers up to this size live in the converting function's own frame:
// paths and log lines, the common case, then cost no heap block besides
// the result string.
constexpr size_t kFixedAreaBytes = 4096;

// The converter is made once per process. MJBase is looked for among the
// modules already loaded and otherwise loaded by bare name with the
// platform's normal search, unlike the loaders of the other host objects,
// which load it by full path beside the executable. A converter that could
// not be made is not retried: every conversion then gives empty text.
mj::IMJTextConverter* converter() {
    static mj::IMJTextConverter* instance = [] {
        const std::string file = platform::module_file_name("MJBase.dll");
        platform::ModuleHandle module = platform::find_loaded_module(file.c_str());
        if (module == nullptr) module = platform::load_module(file.c_str());
        if (module == nullptr) return static_cast<mj::IMJTextConverter*>(nullptr);
        auto factory = reinterpret_cast<mj::PFN_CreateMJObject>(
            platform::find_symbol(module, mj::kFactoryName));
        if (factory == nullptr) return static_cast<mj::IMJTextConverter*>(nullptr);
        void* object = nullptr;
        if (factory(&mj::CLSID_MJTextConverter, &object) != mj::MJ_S_OK) object = nullptr;
        return static_cast<mj::IMJTextConverter*>(object);
    }();
    return instance;
}

// A destination block of `bytes`, in the fixed area when it fits.
class DestBuffer {
public:
    explicit DestBuffer(size_t bytes) {
        if (bytes > kFixedAreaBytes) {
            heap_.reset(new char[bytes]);
            data_ = heap_.get();
        }
    }
    void* data() { return data_; }

private:
    alignas(8) char fixed_[kFixedAreaBytes];
    std::unique_ptr<char[]> heap_;
    char* data_ = fixed_;
};

// The units before the first NUL within `capacity`.
size_t terminated_length(const char* text, size_t capacity) {
    const void* nul = std::memchr(text, 0, capacity);
    return nul == nullptr ? capacity : static_cast<size_t>(static_cast<const char*>(nul) - text);
}

size_t terminated_length(const mj::wchar* text, size_t capacity) {
    // Four units at a time: a word holds a zero unit exactly when this is
    // non-zero (it may also mark units after that one, hence the last scan).
    size_t i = 0;
    for (; i + 4 <= capacity; i += 4) {
        uint64_t word;
        std::memcpy(&word, text + i, sizeof word);
        if (((word - 0x0001000100010001u) & ~word & 0x8000800080008000u) != 0) break;
    }
    while (i < capacity && text[i] != 0) ++i;
    return i;
}

// Converts `length` units of `text` into `dest`, which holds `capacity`
// units, and returns the units of output up to the converter's terminator
// (0 without a converter). The converter terminates its output; stopping at
// the capacity as well keeps one that does not from reading past the block.
template <class OutChar, class In>
size_t ConvertInto(const In* text, size_t length, uint32_t code_page, uint32_t request, OutChar* dest,
                   size_t capacity) {
    mj::IMJTextConverter* raw = converter();
    if (raw == nullptr) return 0;
    // Each conversion holds its own reference while it calls the converter.
    host::MJRef<mj::IMJTextConverter> conv = host::MJRef<mj::IMJTextConverter>::Adopt(raw);
    raw->AddRef();
    mj::MJConvertRequest req;
    req.code_page = code_page;
    req.src_len = static_cast<uint32_t>(length);
    req.dst_cap = static_cast<uint32_t>(capacity);
    req.result = 0;
    req.src = text;
    req.dst = dest;
    conv->Convert(request, &req);
    return terminated_length(dest, capacity);
}

template <class Out, class In>
Out Convert(const In* text, size_t length, uint32_t code_page, uint32_t request, size_t capacity) {
    using OutChar = typename Out::value_type;
    if (length == 0) return Out();
    DestBuffer dest(capacity * sizeof(OutChar));
    OutChar* out = static_cast<OutChar*>(dest.data());
    return Out(out, ConvertInto(text, length, code_page, request, out, capacity));
}

// The blocks log records are converted into, kept for the next record
// instead of being freed: a record then costs no allocation, no page fault
// on memory the allocator gave back in between, and no unmapping (which
// interrupts every processor running one of the process's threads). Kept
// are a few blocks of at most kMaxPooledUnits each, enough for the records
// of answers up to about 256 KB; a longer record's block is its own. The
// pool lives from load to unload; at unload its blocks are freed
// (CloseBlockPool) and one coming back after that is freed at once.
constexpr size_t kMinPooledUnits = 32768;
constexpr size_t kMaxPooledUnits = 524288;
constexpr size_t kPoolSlots = 4;

struct PooledBlock {
    mj::wchar* units = nullptr;
    size_t capacity = 0;
};

class BlockPool {
public:
    // A block of at least `capacity` units: the smallest kept one that is
    // large enough, else a new one. Null when none can be had.
    PooledBlock Take(size_t capacity) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            PooledBlock* best = nullptr;
            for (PooledBlock& slot : slots_) {
                if (slot.units != nullptr && slot.capacity >= capacity &&
                    (best == nullptr || slot.capacity < best->capacity)) {
                    best = &slot;
                }
            }
            if (best != nullptr) {
                const PooledBlock taken = *best;
                *best = PooledBlock();
                return taken;
            }
        }
        PooledBlock made;
        made.capacity = std::max(capacity, kMinPooledUnits);
        made.units = static_cast<mj::wchar*>(std::malloc(made.capacity * sizeof(mj::wchar)));
        return made;
    }

    // Keeps the block, in place of the smallest kept one when all slots are
    // taken; frees what is not kept.
    void Give(PooledBlock block) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!closed_) {
                PooledBlock* smallest = &slots_[0];
                for (PooledBlock& slot : slots_) {
                    if (slot.capacity < smallest->capacity) smallest = &slot;
                }
                if (smallest->capacity < block.capacity) std::swap(*smallest, block);
            }
        }
        std::free(block.units);
    }

    void Close() {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        for (PooledBlock& slot : slots_) {
            std::free(slot.units);
            slot = PooledBlock();
        }
    }

private:
    std::mutex mutex_;
    PooledBlock slots_[kPoolSlots];
    bool closed_ = false;
};

// A record of up to about a thousand characters, nearly every one, is
// converted into a block of the converting thread's own: no lock shared
// with the other logging threads (contended, the pool's lock costs more
// than the conversion itself) and no allocation. The block is plain thread
// storage, with nothing to destroy when the thread or the library ends. A
// conversion made while the thread's block is in use takes the pool.
constexpr size_t kThreadUnits = 1024;
thread_local mj::wchar t_thread_block[kThreadUnits];
thread_local bool t_thread_block_used = false;

// Never destroyed: a thread may still log while the process exits.
BlockPool& block_pool() {
    static BlockPool* const pool = new BlockPool();
    return *pool;
}

struct CloseBlockPool {
    ~CloseBlockPool() { block_pool().Close(); }
} g_close_block_pool;

size_t wide_length(const mj::wchar* text) {
    return text == nullptr ? 0 : std::char_traits<mj::wchar>::length(text);
}

}  // namespace

std::string WideToUtf8(const mj::wchar* text) {
    const size_t n = wide_length(text);
    return Convert<std::string>(text, n, mj::MJ_CP_UTF8, mj::MJ_CONVERT_FROM_WIDE, n * 4);
}

mjwstring Utf8ToWide(const char* text) {
    const size_t n = text == nullptr ? 0 : std::char_traits<char>::length(text);
    return Convert<mjwstring>(text, n, mj::MJ_CP_UTF8, mj::MJ_CONVERT_TO_WIDE, n * 2 + 4);
}

namespace {

// Converting pieces one by one gives what converting them joined gives,
// unless a piece ends inside a multi-byte sequence that the next one
// continues: that sequence would become replacement characters instead of
// its character.
bool splits_a_sequence(const TextPiece& before, const TextPiece& after) {
    const auto last = static_cast<unsigned char>(before.text[before.size - 1]);
    const auto first = static_cast<unsigned char>(after.text[0]);
    return last >= 0x80 && first >= 0x80 && first <= 0xBF;
}

}  // namespace

WideText Utf8ToWideText(const TextPiece* pieces, size_t count) {
    // The text ends at its first NUL, as if measured with strlen.
    size_t n = 0;
    size_t used_pieces = 0;
    size_t last_size = 0;
    for (; used_pieces < count; ++used_pieces) {
        const TextPiece& piece = pieces[used_pieces];
        if (piece.text == nullptr) break;
        const void* nul = std::memchr(piece.text, 0, piece.size);
        last_size = nul == nullptr ? piece.size : static_cast<size_t>(static_cast<const char*>(nul) - piece.text);
        n += last_size;
        if (nul != nullptr) {
            ++used_pieces;
            break;
        }
    }
    if (n == 0) return WideText();
    auto size_of = [&](size_t i) { return i + 1 == used_pieces ? last_size : pieces[i].size; };
    const TextPiece* previous = nullptr;
    for (size_t i = 0; i < used_pieces; ++i) {
        if (size_of(i) == 0) continue;
        const TextPiece current{pieces[i].text, size_of(i)};
        if (previous != nullptr && splits_a_sequence(*previous, current)) {
            std::string joined;
            joined.reserve(n);
            for (size_t k = 0; k < used_pieces; ++k) joined.append(pieces[k].text, size_of(k));
            const TextPiece whole{joined.data(), joined.size()};
            return Utf8ToWideText(&whole, 1);
        }
        previous = &pieces[i];
    }

    const size_t capacity = n * 2 + 4;
    WideText wide;
    if (capacity <= kThreadUnits && !t_thread_block_used) {
        t_thread_block_used = true;
        wide.block_ = t_thread_block;
        wide.capacity_ = kThreadUnits;
        wide.owner_ = WideText::Owner::kThread;
    } else if (capacity <= kMaxPooledUnits) {
        const PooledBlock block = block_pool().Take(capacity);
        wide.block_ = block.units;
        wide.capacity_ = block.capacity;
        wide.owner_ = WideText::Owner::kPool;
    } else {
        // Only the part the converter writes is ever touched; the block then
        // shrinks to it in place, so the text costs its wide size once.
        wide.block_ = static_cast<mj::wchar*>(std::malloc(capacity * sizeof(mj::wchar)));
        wide.capacity_ = capacity;
        // The text of a large answer's dump line: filled once, whole.
        platform::prefer_large_pages(wide.block_, (n + 1) * sizeof(mj::wchar));
    }
    if (wide.block_ == nullptr) throw std::bad_alloc();
    // Each piece goes on where the one before ended, over its terminator.
    size_t used = 0;
    for (size_t i = 0; i < used_pieces && used + 1 < capacity; ++i) {
        if (size_of(i) == 0) continue;
        used += ConvertInto(pieces[i].text, size_of(i), mj::MJ_CP_UTF8, mj::MJ_CONVERT_TO_WIDE, wide.block_ + used,
                            capacity - used);
    }
    // A converter that did not terminate within the capacity: the last unit
    // gives way to the terminator.
    if (used >= capacity) used = capacity - 1;
    wide.block_[used] = 0;
    wide.size_ = used;
    if (wide.owner_ == WideText::Owner::kHeap) {
        void* smaller = std::realloc(wide.block_, (used + 1) * sizeof(mj::wchar));
        if (smaller != nullptr) wide.block_ = static_cast<mj::wchar*>(smaller);
    }
    return wide;
}

WideText Utf8ToWideText(const char* text) {
    const TextPiece whole{text, text == nullptr ? 0 : std::char_traits<char>::length(text)};
    return Utf8ToWideText(&whole, 1);
}

std::string WideToCp936(const mj::wchar* text) {
    const size_t n = wide_length(text);
    return Convert<std::string>(text, n, mj::MJ_CP_GBK, mj::MJ_CONVERT_FROM_WIDE, n * 4);
}

WideText::~WideText() {
    reset();
}

WideText::WideText(WideText&& other) noexcept
    : block_(other.block_), size_(other.size_), capacity_(other.capacity_), owner_(other.owner_) {
    other.block_ = nullptr;
    other.size_ = 0;
}

WideText& WideText::operator=(WideText&& other) noexcept {
    if (this != &other) {
        reset();
        block_ = other.block_;
        size_ = other.size_;
        capacity_ = other.capacity_;
        owner_ = other.owner_;
        other.block_ = nullptr;
        other.size_ = 0;
    }
    return *this;
}

void WideText::reset() {
    if (block_ != nullptr) {
        switch (owner_) {
        case Owner::kThread:
            t_thread_block_used = false;
            break;
        case Owner::kPool:
            block_pool().Give(PooledBlock{block_, capacity_});
            break;
        case Owner::kHeap:
            std::free(block_);
            break;
        }
    }
    block_ = nullptr;
    size_ = 0;
}

const mj::wchar* WideText::c_str() const {
    static const mj::wchar empty = 0;
    return block_ != nullptr ? block_ : &empty;
}

}  // namespace qn
