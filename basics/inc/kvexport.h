/// \file
/// Export macros of the basics library. The library is built with hidden
/// visibility; only what carries one of these macros is part of its interface.
/// The attribute is the same on both sides, so that a client built with hidden
/// visibility still shares the type information of exported classes (and can
/// catch the library's exceptions).
#ifndef KVBASICS_KVEXPORT_H
#define KVBASICS_KVEXPORT_H

/// Marks a class or function as part of the library's interface.
#define KVBASICS_API __attribute__((visibility("default")))

/// Marks a private member function of an exported class as not exported: it
/// is the library's own business. Never on a function that an inline function
/// of a public header calls, which a client's code would then need.
#define KVBASICS_LOCAL __attribute__((visibility("hidden")))

/// Functions exported under their plain, undecorated names, so that another
/// module can resolve them with dlsym.
#define KVBASICS_C extern "C" KVBASICS_API

#endif  // KVBASICS_KVEXPORT_H
