// printf-style checking for our own formatting functions. The Windows
// build formats with the C99-conforming mingw printf family (%zu, %lld), so
// its checks must follow GNU rules rather than the Microsoft runtime's.
#pragma once

#ifdef __MINGW32__
#define PRINTF_LIKE(format_index, first_arg) __attribute__((format(gnu_printf, format_index, first_arg)))
#else
#define PRINTF_LIKE(format_index, first_arg) __attribute__((format(printf, format_index, first_arg)))
#endif
