// CharsetConvert between code pages picked by the input: any key of the
// name table or any number through the "windows-" rule, with each of the
// three operations on the rest of the input. Output is only ever appended.

#include "FuzzInput.h"
#include "charset/CharsetConvert.h"
#include "charset/CharsetNames.h"
#include "foundation/DataBuffer.h"

#include <cstring>
#include <string>

namespace {

std::string pickName(FuzzInput& input) {
    const uint8_t kind = input.byte();
    const unsigned number = (static_cast<unsigned>(input.byte()) << 8) | input.byte();
    if ((kind & 0x80) != 0) {
        return "windows-" + std::to_string(number);
    }
    int count = 0;
    const CharsetNameEntry* table = charsetNameTable(&count);
    return table[number % static_cast<unsigned>(count)].key;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint8_t operation = input.byte();
    const std::string from = pickName(input);
    const std::string to = pickName(input);
    const std::string bytes = input.rest();

    CharsetConvert converter;
    converter.setFromCharset(from.c_str(), nullptr);
    converter.setToCharset(to.c_str(), nullptr);

    DataBuffer out;
    static const char kKept[] = "kept";
    out.append(kKept, 4);
    const int length = static_cast<int>(bytes.size());
    bool converted = false;
    switch (operation % 3) {
    case 0:
        converted = converter.convert(bytes.data(), length, out, nullptr);
        break;
    case 1:
        converted = converter.toUnicode(bytes.data(), length, out, nullptr);
        break;
    default:
        converted = converter.fromUnicode(bytes.data(), length, out, nullptr);
        break;
    }
    FUZZ_CHECK(out.getSize() >= 4 && std::memcmp(out.getData(), kKept, 4) == 0);
    if (converted && length == 0) {
        FUZZ_CHECK(out.getSize() == 4);
    }
    if (converted && operation % 3 == 0 &&
        converter.getFromCodePage() == converter.getToCodePage()) {
        FUZZ_CHECK(out.getSize() == 4 + bytes.size() &&
                   std::memcmp(out.getData() + 4, bytes.data(), bytes.size()) == 0);
    }
    if (converted && operation % 3 == 1 && converter.getFromCodePage() != 65001 &&
        converter.getFromCodePage() != 1200) {
        // UTF-16 made from a code page comes in whole units.
        FUZZ_CHECK((out.getSize() - 4) % 2 == 0);
    }
    return 0;
}
