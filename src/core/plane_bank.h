// Banks of raw pixel planes.
//
// A PlaneBank holds up to 30 gray planes of one size; a ColorBank up to 10
// slots of red, green and blue planes. Planes are W x H bytes, top row first,
// no row padding: pixel (x, y) is byte y * W + x. The bank's range always
// covers the whole plane (left = top = 0), because the bank is created with
// the size of the processing range.
//
// Every operation on an empty bank (count 0) does nothing and every query
// returns -1. Allocation failure leaves the bank empty and returns -1.
// Planes are picture buffers (core/memory.h): a bank released and created
// again with the same size gets the same, already mapped planes back, with
// their old bytes.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "core/memory.h"

namespace lumadrift {

enum PlaneBankItem : int {
    kBankWidth = 1,
    kBankHeight = 2,
    kBankRangeLeft = 3,
    kBankRangeTop = 4,
    kBankRangeWidth = 5,
    kBankRangeHeight = 6,
    kBankCount = 7,
    kBankSource = 8,
    kBankDestination = 9,
};

// The nine header values both banks share, and their numbered query.
struct BankHeader {
    int width = 0;
    int height = 0;
    int rangeLeft = 0;
    int rangeTop = 0;
    int rangeWidth = 0;
    int rangeHeight = 0;
    int count = 0;
    int source = 0;
    int destination = 0;

    void Set(int count, int width, int height);
    void Clear() { *this = BankHeader{}; }
    // Items 1..9; -1 for every item while the bank is empty or unknown.
    int Query(int item) const;
};

class PlaneBank {
public:
    static constexpr int kCapacity = 30;

    PlaneBank() = default;
    PlaneBank(const PlaneBank&) = delete;
    PlaneBank& operator=(const PlaneBank&) = delete;

    // 0 on success. count > 30 fails with nothing changed; an allocation
    // failure frees what was allocated and leaves the bank empty.
    int CreatePlaneBank(int count, int width, int height);
    void ReleasePlaneBank();

    // Any index value is accepted; ignored while the bank is empty.
    void SelectPlanes(int source, int destination);

    // nullptr for an index outside 0..count-1.
    uint8_t* GetPlane(int index);
    const uint8_t* GetPlane(int index) const;

    // Items 1..9 (PlaneBankItem); -1 for every item while empty or unknown.
    int QueryPlaneBank(int item) const;
    // Items 10 and 11 of the query: the source and destination buffers, or
    // nullptr when the index does not name an allocated plane.
    uint8_t* SourcePlane();
    uint8_t* DestinationPlane();
    const uint8_t* SourcePlane() const;

    bool empty() const { return h_.count == 0; }
    int width() const { return h_.width; }
    int height() const { return h_.height; }
    int count() const { return h_.count; }
    int source() const { return h_.source; }
    int destination() const { return h_.destination; }

    // Copies range row y of the source plane into buffer. length is in/out:
    // when y is outside the range or length is smaller than the range width,
    // buffer[0] becomes 0 and length 0; otherwise length becomes the width.
    void ReadRangeRow(int y, uint8_t* buffer, int& length) const;
    // Writes into range row y of the destination plane. y outside the range:
    // length becomes 0, nothing written. length >= range width: that many
    // bytes are copied and length becomes the width. A shorter length clears
    // the range row to 0 first, copies length bytes to its start and keeps
    // length.
    void WriteRangeRow(int y, const uint8_t* buffer, int& length);
    void CopyRangeToDestination();
    void FillRange(uint8_t value);

private:
    BankHeader h_;
    std::array<PictureBuffer, kCapacity> planes_{};
};

class ColorBank {
public:
    static constexpr int kCapacity = 10;

    ColorBank() = default;
    ColorBank(const ColorBank&) = delete;
    ColorBank& operator=(const ColorBank&) = delete;

    int CreateColorBank(int count, int width, int height);
    void ReleaseColorBank();
    void SelectColorSlots(int source, int destination);

    // Fills each non-null output with the slot's buffer; a slot outside
    // 0..count-1 leaves the outputs untouched.
    void GetColorPlanes(int slot, uint8_t** red, uint8_t** green, uint8_t** blue);
    void GetColorPlanes(int slot, const uint8_t** red, const uint8_t** green,
                        const uint8_t** blue) const;

    int QueryColorBank(int item) const;

    // channel 0 red, 1 green, 2 blue: copies that plane of the destination
    // slot into gray (same geometry), complemented when invert is set.
    void ExtractColorPlane(int channel, uint8_t* gray, bool invert) const;

    bool empty() const { return h_.count == 0; }
    int width() const { return h_.width; }
    int height() const { return h_.height; }
    int count() const { return h_.count; }
    int source() const { return h_.source; }
    int destination() const { return h_.destination; }

private:
    BankHeader h_;
    struct Slot {
        PictureBuffer red, green, blue;
    };
    std::array<Slot, kCapacity> slots_{};
};

}  // namespace lumadrift
