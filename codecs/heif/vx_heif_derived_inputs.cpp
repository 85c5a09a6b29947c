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
    for (const Box& iref : inMeta) {
        if (iref.type != Tag("iref") || iref.size < 4) continue;
        const size_t idBytes = iref.body[0] == 0 ? 2 : 4;
        for (const Box& ref : Children(iref.body + 4, iref.size - 4)) {
            if (ref.type != Tag("dimg")) continue;
            Bytes b(ref.body, ref.size);
            const uint32_t from = uint32_t(b.U(idBytes));
            const uint32_t count = uint32_t(b.U(2));
            if (!b.ok() || !any(from, IsDerived)) continue;
            for (uint32_t k = 0; k < count; ++k) {
                const uint32_t to = uint32_t(b.U(idBytes));
                if (!b.ok()) break;  // the library refuses a short reference list itself
                if (!picture(to)) return false;
            }
        }
    }
    return true;
}

}  // namespace vxheif
