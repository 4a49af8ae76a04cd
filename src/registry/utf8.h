// UTF-8 as a PostgreSQL database in that encoding takes it, and as the
// export's JSON must carry it.
#ifndef TALVEK_REGISTRY_UTF8_H
#define TALVEK_REGISTRY_UTF8_H

// Length of the valid UTF-8 sequence at p (1 to 4), or 0 when the bytes
// there are not one: overlong forms, surrogates and values past U+10FFFF
// are refused as the standard asks. p is NUL-terminated: no byte past a NUL
// is read.
int Utf8SequenceLength(const unsigned char *p);

#endif
