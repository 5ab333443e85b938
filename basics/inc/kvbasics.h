// The basics library of the Tessaloquin object-database runtime: include this
// one header to use all of it.
#ifndef KVBASICS_KVBASICS_H
#define KVBASICS_KVBASICS_H

#include "kvcontainer.h"
#include "kvexport.h"
#include "kvlog.h"
#include "kvmemory.h"
#include "kvplatform.h"
#include "kvversion.h"
#include "memfile.h"

#endif  // KVBASICS_KVBASICS_H
