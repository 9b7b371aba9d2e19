// HLSL's constant-buffer packing rules (constant_packing.h).
#include "platform/gl/common/constant_packing.h"

namespace {

// Places a structure's members one after the other, noting their offsets
// in offsets when given; returns where the last one ends.
uint64_t LayOutMembers(const PackedType &structure, std::vector<uint64_t> *offsets) {
    uint64_t end = 0;
    for (const PackedType &member : structure.members) {
        const uint64_t offset = PackedOffset(member, end);
        if (offsets) offsets->push_back(offset);
        end = offset + PackedSize(member);
    }
    return end;
}

// The bytes of one value of the type, an array's element for an array.
uint64_t OneSize(const PackedType &type) {
    switch (type.kind) {
    case PackedType::Kind::Struct:
        return LayOutMembers(type, nullptr);
    case PackedType::Kind::Matrix: {
        const uint64_t registers   = type.rowMajor ? type.rows : type.columns;
        const uint64_t perRegister = type.rowMajor ? type.columns : type.rows;
        if (registers == 0) return 0;
        return kRegisterBytes * (registers - 1) + type.scalarBytes * perRegister;
    }
    case PackedType::Kind::Vector:
        break;
    }
    return type.scalarBytes * type.columns;
}

} // namespace

uint64_t RegisterStart(uint64_t offset) {
    return (offset + kRegisterBytes - 1) / kRegisterBytes * kRegisterBytes;
}

uint64_t PackedSize(const PackedType &type) {
    const uint64_t one = OneSize(type);
    if (!type.array) return one;
    return type.elements == 0 ? 0 : (type.elements - 1) * RegisterStart(one) + one;
}

bool StartsRegister(const PackedType &type) {
    return type.array || type.kind != PackedType::Kind::Vector;
}

bool Straddles(const PackedType &type, uint64_t offset) {
    return offset % kRegisterBytes + PackedSize(type) > kRegisterBytes;
}

uint64_t PackedOffset(const PackedType &type, uint64_t end) {
    return StartsRegister(type) || Straddles(type, end) ? RegisterStart(end) : end;
}

std::vector<uint64_t> MemberOffsets(const PackedType &structure) {
    std::vector<uint64_t> offsets;
    LayOutMembers(structure, &offsets);
    return offsets;
}

uint64_t ArrayStride(const PackedType &element) {
    return RegisterStart(PackedSize(element));
}

uint64_t Registers(const PackedType &type) {
    return RegisterStart(PackedSize(type)) / kRegisterBytes;
}
