#include "Platform/Random.h"

#include <cerrno>
#include <sys/random.h>

i32 getRandomBytes(u8* out, i64 count) {
    i64 done = 0;
    i32 failures = 0;
    while (done < count) {
        i64 want = count - done;
        if (want > 256) want = 256;  // reads of up to 256 bytes are never cut short by a signal
        ssize_t got = getrandom(out + done, (size_t)want, 0);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            if (++failures > 3) return 1;
            continue;
        }
        done += got;
    }
    return 0;
}
