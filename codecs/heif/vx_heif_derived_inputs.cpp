#include "codecs/heif/vx_heif_derived_inputs.h"

#include <algorithm>
#include <vector>

#include "codecs/heif/vx_heif_boxes.h"

namespace vxheif {

namespace {

bool IsDerived(uint32_t type) {
    return type == Tag("grid") || type == Tag("iden") || type == Tag("iovl");
}

// The item types libheif 1.15 registers as pictures ('jpeg' items are not).
bool IsPicture(uint32_t type) {
    return type == Tag("hvc1") || type == Tag("av01") || IsDerived(type);
}

}  // namespace

bool DerivedInputsArePictures(const uint8_t* file, size_t size) {
    const std::vector<Box> inMeta = MetaChildren(file, size);
    std::vector<Item> items;
    if (const Box* iinf = Find(inMeta, Tag("iinf"))) ReadItemInfo(*iinf, items);
    // An id listed twice counts as derived if any entry says so and as a
    // picture only if every entry does: whichever entry the library keeps.
    const auto any = [&](uint32_t id, bool (*test)(uint32_t)) {
        return std::any_of(items.begin(), items.end(), [&](const Item& i) { return i.id == id && test(i.type); });
    };
    const auto picture = [&](uint32_t id) {
        bool found = false;
        for (const Item& i : items) {
            if (i.id != id) continue;
            if (!IsPicture(i.type)) return false;
            found = true;
        }
        return found;
    };
    // Reads one reference's list of inputs; true when it makes a derived
    // picture of something that is not a picture.
    const auto bad = [&](uint32_t type, uint32_t from, Bytes& b, size_t idBytes, uint32_t count) {
        const bool derived = type == Tag("dimg") && any(from, IsDerived);
        bool found = false;
        for (uint32_t k = 0; k < count; ++k) {
            const uint32_t to = uint32_t(b.U(idBytes));
            if (!b.ok()) break;  // the library refuses a short reference list itself
            found = found || (derived && !picture(to));
        }
        return found;
    };
    for (const Box& iref : inMeta) {
        if (iref.type != Tag("iref") || iref.size < 4) continue;
        const size_t idBytes = iref.body[0] == 0 ? 2 : 4;
        // Each reference as a box of its own size...
        for (const Box& ref : Children(iref.body + 4, iref.size - 4)) {
            Bytes b(ref.body, ref.size);
            const uint32_t from = uint32_t(b.U(idBytes));
            const uint32_t count = uint32_t(b.U(2));
            if (b.ok() && bad(ref.type, from, b, idBytes, count)) return false;
        }
        // ...and as libheif 1.15 reads them: one after the other to the end of
        // 'iref', whatever each header's size says. A damaged size hides a
        // reference from the first reading only.
        Bytes b(iref.body + 4, iref.size - 4);
        while (b.left() > 0) {
            const uint64_t size = b.U(4);
            const uint32_t type = uint32_t(b.U(4));
            if (size == 1) b.Skip(8);
            if (type == Tag("uuid")) b.Skip(16);
            const uint32_t from = uint32_t(b.U(idBytes));
            const uint32_t count = uint32_t(b.U(2));
            if (!b.ok()) break;
            if (bad(type, from, b, idBytes, count)) return false;
        }
    }
    return true;
}

}  // namespace vxheif
