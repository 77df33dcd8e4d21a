// Three version strings from bytes: the order is a weak order (reflexive, antisymmetric,
// transitive), and the update decision follows it.
#include "TLFuzzCheck.h"
#include "TLVersion.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <string>

namespace {

int sign(std::weak_ordering order) {
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

int cmp(const std::string& a, const std::string& b) {
    return sign(TLVersion::compare(a, b));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string a = in.ConsumeRandomLengthString();
    const std::string b = in.ConsumeRandomLengthString();
    const std::string c = in.ConsumeRemainingBytesAsString();

    for (const std::string* s : {&a, &b, &c}) {
        TL_FUZZ_CHECK(cmp(*s, *s) == 0);
        TL_FUZZ_CHECK(cmp(*s, std::string(*s)) == 0);
    }
    TL_FUZZ_CHECK(cmp(a, b) == -cmp(b, a));
    TL_FUZZ_CHECK(cmp(b, c) == -cmp(c, b));
    TL_FUZZ_CHECK(TLVersion::isNewer(b, a) == (cmp(a, b) < 0));

    // Transitivity over every order of the three: a <= b <= c gives a <= c, strictly when
    // either step is strict.
    const std::string* s[] = {&a, &b, &c};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            const int k = 3 - i - j;
            if (i == j || k == i || k == j || k < 0 || k > 2) {
                continue;
            }
            const int ij = cmp(*s[i], *s[j]);
            const int jk = cmp(*s[j], *s[k]);
            if (ij <= 0 && jk <= 0) {
                TL_FUZZ_CHECK(cmp(*s[i], *s[k]) == (ij < 0 || jk < 0 ? -1 : 0));
            }
        }
    }
    return 0;
}
