/// \file
/// The basics library of the Tessaloquin object-database runtime: include this
/// one header to use all of it.
#ifndef KVBASICS_KVBASICS_H
#define KVBASICS_KVBASICS_H

#include "kvarray.h"
#include "kvcontainer.h"
#include "kverror.h"
#include "kvexport.h"
#include "kvlist.h"
#include "kvlog.h"
#include "kvmemory.h"
#include "kvplatform.h"
#include "kvstatistics.h"
#include "kvversion.h"
#include "memfile.h"
#include "prfdata.h"

#endif  // KVBASICS_KVBASICS_H
