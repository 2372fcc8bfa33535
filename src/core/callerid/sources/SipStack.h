#pragma once

// libre's headers, as Debian's libre was built: without these, re_types.h
// would define bool, true and false as macros and struct sa would lose its
// IPv6 member.
#ifndef HAVE_STDBOOL_H
#define HAVE_STDBOOL_H 1
#endif
#ifndef HAVE_INTTYPES_H
#define HAVE_INTTYPES_H 1
#endif
#ifndef HAVE_INET6
#define HAVE_INET6 1
#endif
#include <re.h>
