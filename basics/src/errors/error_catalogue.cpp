// The error catalogue: every result code of the product with its English
// text. Codes and texts are part of the product's interface (applications and
// log readers match on both), so each text stands exactly as the product has
// always shown it, misspellings, missing full stops and trailing blanks
// included.
#include <algorithm>
#include <iterator>
#include <string>

#include "kverror.h"

namespace {

// Sorted by code, strictly ascending (KvErrorCatalogue hands it out so).
// clang-format off
constexpr KvErrorEntry kCatalogue[] = {
    // Online versioning (-7310 to -7300)
    {-7310, "Online Versioning was interrupted and cannot be resumed."},
    {-7309, "Replica Id from client does not exist at server. Client needs refresh."},
    {-7308, "KvOnlineVersioningBase::GetLogRemainderInBytes or ::GetStatus was called after the Online Versioning process has finished."},
    {-7307, "KvOnlineVersioningBase::GetLogRemainderInBytes or ::GetStatus was called before the Online Versioning process has started."},
    {-7306, "Online Versioning has terminated. Replicating data to the versioning log failed."},
    {-7305, "Versioning log is corrupt."},
    {-7304, "BeginOnlineVersioning was called already."},
    {-7303, "The replica DB is currently not open."},
    {-7302, "Tessaloquin returned wrong callback object to User Dll."},
    {-7301, "Loading the factory dll for online versioning failed."},
    {-7300, "Loading the versioning callback dll (e.g. impl of KvVersionTransactionInterface ) failed."},
    // Replica log (-7203 to -7200)
    {-7203, "Replica log contains invalid entries."},
    {-7202, "Reading of replica log failed."},
    {-7201, "Creation of replica log failed."},
    {-7200, "Writing to replica log failed."},
    // Object buffer checks (-7106 to -7101)
    {-7106, "A reference to another object in a object buffer has an illegal value."},
    {-7103, "A single value in a object buffer is corrupted."},
    {-7102, "A basic type entry in a object buffer is corrupted."},
    {-7101, "Interal data structure of object buffer is corrupted."},
    // Versioning state (-7050)
    {-7050, "The versioning process was interrupted and the database might be logically inconsistent, proceed the versioning."},
    // Schema evolution, schema registry and dictionary branches (-7030 to -7001)
    {-7030, "An object with auto value can not be stored in an older version."},
    {-7029, "A definition of an auto value member is not valid."},
    {-7028, "The dictionary is newer than the factory. This error might happen on the backup server when online versioning is performed."},
    {-7027, "The schema registry id does not match"},
    {-7026, "The schema registry URL is not specified. "},
    {-7025, "The revision mismatch during reregister. "},
    {-7024, "The dictionary mismatch during reregister. "},
    {-7023, "The actual timestamp on schema registry is less than last modification timestamp. "},
    {-7022, "The revision object is not found in schema registry. "},
    {-7021, "The class id is not found in schema registry. "},
    {-7019, "Temporary registry of class desc with active transaction is not allowed. "},
    {-7018, "The dictionary is not registered by schema registry. "},
    {-7017, "The dictionary is already registered by schema registry. "},
    {-7016, "The dictionary has id, but schema registry URL is not defined. "},
    {-7015, "The schema registry is defined, but the dictionary does not have id. "},
    {-7014, "A schema registry session is not created. "},
    {-7013, "A database Recoding has been canceled before. You need to recode the database."},
    {-7012, "A database Recoding has been canceled before. You need to recode the database."},
    {-7011, "A factory does not belong to the dictionary branch of the version tree."},
    {-7010, "A database Update process has been canceled on this database before and the database has been marked dirty. Please update, re-index or reorganize the database to be able to open it."},
    {-7009, "A database Reindex (or Update) process has been canceled on this database before and the database has been marked dirty. Please re-index or reorganize the database to be able to open it."},
    {-7008, "A database Reorganize process has been canceled on this database before and the database has been marked dirty. Please re-index or reorganize the database to be able to open it."},
    {-7007, "A database Reorganize process has been canceled on this database before and the database has been marked dirty. Please re-open the database."},
    {-7006, "AddDesc() and DeleteDesc() or PurgeDesc() may not be called in the same transaction."},
    {-7004, "There are class descriptions to be deleted that are referenced from valid class descriptions."},
    {-7003, "InitKIVO() was called to work generically but the attempt to open the dictionary was with factories."},
    {-7002, "The dictionary is already opened for use without factories."},
    {-7001, "The dictionary is from a wrong branch of the version tree."},
    // Verity full-text engine (-5177 to -5150)
    {-5177, "Verity: There is a version mismatch between Tessaloquin and the Verity runtime module."},
    {-5176, "Verity: The function is not available."},
    {-5174, "Verity: The call could not be executed."},
    {-5173, "Verity: The function is not re-entrant."},
    {-5172, "Verity: A connection could not be made to the remote host."},
    {-5171, "Verity: An invalid user/password combination was supplied."},
    {-5169, "Verity: The query string could not be parsed."},
    {-5168, "Verity: The collection and session locales are incompatible."},
    {-5167, "Verity: The collection path supplied for the path member is too long."},
    {-5166, "Verity: A purge failed due to problems deleting from one of the following directories: pdd, work, trans."},
    {-5165, "Verity: The collection is read-only (no submits are allowed)."},
    {-5164, "Verity: The collection has been repaired."},
    {-5163, "Verity: The collection is very sick."},
    {-5162, "Verity: The collection is not available (it is down or under repair)."},
    {-5161, "Verity: File or directory permission was not granted."},
    {-5160, "Verity: The style files are invalid."},
    {-5159, "Verity: The installation directory could not be found."},
    {-5158, "Verity: The gateway is not available."},
    {-5157, "Verity: An invalid sort specification was supplied."},
    {-5156, "Verity: An argument was too large."},
    {-5155, "Verity: A file was not found."},
    {-5154, "Verity: A bad document ID or key was detected."},
    {-5153, "Verity: There are no more available file handles."},
    {-5152, "Verity: The message database was not found."},
    {-5151, "Verity: Illegal usage."},
    {-5150, "Verity: An internal error occured."},
    // Index service (-5133 to -5101)
    {-5133, "The index state change is not allowed."},
    {-5132, "The index is not complete build (in progress)."},
    {-5131, "There is more than one explicit index defined for the same member."},
    {-5130, "The index state is unknown."},
    {-5122, "The index file has physical corruptions."},
    {-5121, "The index file for the database could not be found."},
    {-5120, "Index is logical corrupted (i.e nodes are missing)."},
    {-5119, "The Verity SEARCH'97 installation directory seems to be incomplete (e.g: missing a vdk-dll)."},
    {-5118, "There is no more index data available."},
    {-5117, "The index does not have a collection directory."},
    {-5116, "The index update context is invalid."},
    {-5115, "The index service is invalid."},
    {-5114, "The index status type is invalid."},
    {-5113, "The index evaluation specification is invalid."},
    {-5112, "The index open context is invalid."},
    {-5111, "The index service could not be closed."},
    {-5110, "The index service could not be unloaded."},
    {-5109, "The index service could not be loaded."},
    {-5108, "The index service already in the list of services."},
    {-5107, "The index search specification is invalid."},
    {-5106, "The index position specification is invalid."},
    {-5105, "The index is not open."},
    {-5104, "The index data is invalid."},
    {-5103, "An index specification is invalid."},
    {-5102, "The index session context is invalid."},
    {-5101, "The index session is closed."},
    // Module loading (-5005 to -5001)
    {-5005, "A module version check could not done."},
    {-5004, "A module has an incompatible version."},
    {-5003, "A module entry could not be found."},
    {-5002, "A module could not be loaded."},
    {-5001, "A module handle is invalid."},
    // Access paths and walkers (-4112 to -4101)
    {-4112, "At least one operation on one collection element returned error"},
    {-4111, "A description for a class named in the access path was not found in the dictionary."},
    {-4110, "Rollback semantics are not possible for this operation."},
    {-4109, "An ondemand is required."},
    {-4108, "A pointer-to-object is required."},
    {-4107, "The access pattern is unknown."},
    {-4106, "The last member of the member-path is not an ondemand or ondemand-set member."},
    {-4105, "The access path contains an invalid member name."},
    {-4104, "The access path is not specified in valid access path syntax."},
    {-4103, "The operation was not executed due to an earlier error."},
    {-4101, "The walker has been canceled"},
    // Transactions (-4020 to -4001)
    {-4020, "A transaction stamp cannot be retrieved, either because retrieving transaction timestamps is disabled or an error occurred."},
    {-4019, "A transaction that is registered for multiple bases cannot be used for this feature."},
    {-4018, "Transaction was aborted by the registered transaction validator."},
    {-4017, "The transaction was aborted."},
    {-4016, "Only corrupted records can be read or changed with the repair API."},
    {-4015, "Multiple repair sessions within the same database are not allowed."},
    {-4014, "The operation must be executed within an active transaction."},
    {-4013, "Nested transactions are not supported in the present context."},
    {-4012, "Batch transactions are not supported in the present context."},
    {-4011, "An attempt was made to commit/abort a transaction that is already at level 0."},
    {-4010, "An attempt was made to use nested shadow and batch transactions together."},
    {-4009, "An attempt was made to use transaction behavior different from that specified in InitKIVO()."},
    {-4008, "Embedded objects of the referenced object use different transactions."},
    {-4007, "The transaction is not the current one."},
    {-4006, "The specified transaction is not assigned to the specified database."},
    {-4005, "The transaction has the wrong level."},
    {-4004, "An associated transaction resource could not be found."},
    {-4003, "The transaction is already registered as a resource."},
    {-4002, "The transaction is subordinate."},
    {-4001, "The transaction is already running, properties cannot be changed."},
    // General and internal (-2999 to -2991)
    {-2999, "The operation is not yet implemented."},
    {-2998, "An internal error (illegal function call) occurred."},
    {-2997, "The order of the call is not correct."},
    {-2996, "The method is discontinued."},
    {-2995, "The requested operation is not allowed to be executed in client/server mode. Try local execution instead."},
    {-2994, "the link count of the object has already reached its maximum value (0x3fffffff) and cannot be incremented"},
    {-2993, "The call is not allowed in this context."},
    {-2992, "The truncate of database is not allowed, because the database is opened readonly or the external backup or addreplica is running."},
    {-2991, "The refresh of object is not allowed, because it is being committed in a batch transaction."},
    // Sub-schemata and master dictionary (-2816 to -2800)
    {-2816, "The specified database can only be opened as a KvBase."},
    {-2814, "A sub-schema was modified. Please update the master dictionary."},
    {-2813, "An external reference was not linked because the schema is not open."},
    {-2812, "The local class ID could not be preserved in the master dictionary."},
    {-2811, "The query is associated with a different database then the set is assigned to"},
    {-2810, "The query was not associated with a specific database."},
    {-2809, "A class reference could not be resolved from the set of attached sub-schemata."},
    {-2808, "At least one sub-schema is needed."},
    {-2807, "A required sub-schema could not be opened."},
    {-2806, "The unique class ID is unknown."},
    {-2805, "This operation requires exclusive access to the dictionary."},
    {-2804, "The mapping table is corrupted."},
    {-2803, "The type name is not unique and/or not qualified."},
    {-2802, "It is not possible to create classes with IDs higher than KvMAX_USER_CLASSID (currently 65300)"},
    {-2801, "The specified database is a master dictionary and can only be opened as a KvMasterDict."},
    {-2800, "An invalid method invocation for class KvMasterDict occurred."},
    // Data dump and event log (-2777 to -2770)
    {-2777, "Error while reading event log."},
    {-2776, "Data dump file could not be created, file already exists."},
    {-2775, "Data dump file size limit reached."},
    {-2774, "Data dump file has not been found."},
    {-2773, "Cannot access or create data dump file."},
    {-2772, "Attempt to seek beyond start or end of dump file."},
    {-2771, "Cannot access or create data dump directory."},
    {-2770, "An error occured while trying to dump corrupted data."},
    // Configuration file (-2754 to -2751)
    {-2754, "The Tessaloquin configuration file contains syntax errors."},
    {-2753, "The Tessaloquin configuration file cannot be opened."},
    {-2752, "The value has the wrong type."},
    {-2751, "The Tessaloquin configuration file was not found."},
    // Clients and database lock file (-2710 to -2701)
    {-2710, "No client with this client id found."},
    {-2705, "A Database Lock File for the dictionary exists."},
    {-2704, "The Database Lock File does not exist."},
    {-2703, "There is a mismatch in the Database Lock File magic number."},
    {-2702, "The Database Lock File could not be opened/created."},
    {-2701, "A Database Lock File exists."},
    // Failover and reconnect (-2689 to -2680)
    {-2689, "For a dictonary reconnect, the dictionary creation stamp on the primary server is newer than on the backup server."},
    {-2688, "For a dictionary reconnect, the dictionary version on the primary server is higher than on the backup server."},
    {-2687, "For a base reconnect, the database creation stamp on the primary server is newer than on the backup server."},
    {-2686, "For a base reconnect, the transaction id on the primary server is higher than on the backup server."},
    {-2685, "For a base reconnect, the database open modification stamp on the primary server is newer than on the backup server."},
    {-2684, "For a base reconnect, the disk surrogate on the primary server is higher than on the backup server."},
    {-2683, "For a base reconnect, the dictionary version on the primary server is higher than on the backup server."},
    {-2682, "The highest surrogate does not match"},
    {-2681, "The database for failover does not match"},
    {-2680, "Registering client objects on the backup server failed"},
    // Replication (-2671 to -2650)
    {-2671, "The primary database was already updated, therefore the primary database should be copied to the backup server."},
    {-2670, "The replica instance for replication does not exists on the backup server."},
    {-2669, "Replica database has an older schema version."},
    {-2668, "Primary buffering is already active."},
    {-2667, "The replication buffer is corrupted or incomplete, the backup database cannot be synchronized."},
    {-2666, "Activation of implicit primary buffering failed."},
    {-2665, "The replication was halted, because an error occured at the backup server."},
    {-2664, "The server software is to old, never version required."},
    {-2663, "The backup server is in a wrong state, maybe online."},
    {-2662, "Primary buffering is not active."},
    {-2661, "The replica server software is incompatible with the master server version."},
    {-2660, "The replica server software is to old, never version required."},
    {-2658, "An add replica failed due to high workload."},
    {-2657, "The replica database is more recent then the primary database."},
    {-2656, "Cascaded replication or incremental backup in replica database is not allowed"},
    {-2655, "The agent could not perfom the requested operation because a resource was not available (i.e. hard disk or network connection)."},
    {-2654, "The order of replication is not allowed"},
    {-2653, "The agent could not be initialized"},
    {-2652, "The agent is not accepted"},
    {-2651, "The operation is not allowed while replication or incremental backup is NOT enabled"},
    {-2650, "The operation is not allowed while replication or incremental backup is enabled"},
    // Encryption and secure communication (-2646 to -2630)
    {-2646, "Dictionary encryption is not supported."},
    {-2645, "Encryption description file exists."},
    {-2644, "Encryption description file is not found."},
    {-2643, "Database is not encrypted, but encryption description is specified."},
    {-2642, "Encryption implementation does not work correctly."},
    {-2641, "Secure connection key not valid."},
    {-2640, "SSL servers certificate not valid."},
    {-2639, "SSL server connection could not be be instantiated."},
    {-2638, "Could not listen on SSL port (already used?)."},
    {-2637, "SSL client communication returns wrong data."},
    {-2636, "SSL client connection could not be instantiated."},
    {-2635, "Secure communication is already started."},
    {-2634, "Parameter set for encryption or recoding description is not valid."},
    {-2633, "Encryption or recoding description is not set."},
    {-2632, "Encryption description is already set."},
    {-2631, "Encryption description file has wrong format"},
    {-2630, "Encryption description is not valid."},
    // Database files and multi-file databases (-2622 to -2601)
    {-2622, "The number of objects in the database file does not match the number of entries in the KvObject Extent"},
    {-2621, "The object cannot be read, because a subobject is corrupted."},
    {-2620, "The object cannot be read, because a subobject is corrupted."},
    {-2619, "One of the databases has a different modification timestamp."},
    {-2618, "One of the databases has a different creation timestamp."},
    {-2617, "One of the database files has an inconsistent creation timestamp."},
    {-2616, "The file is an incremental backup file which cannot be used as a replication log file."},
    {-2615, "The file is a replication log file which cannot be used as an incremental backup file."},
    {-2614, "One of the database files has an inconsistent timestamp."},
    {-2613, "The database needs checking. Please close it and perform a database check or reorganization."},
    {-2612, "The database requires recovery. Please close and reopen it."},
    {-2611, "The data record has an incorrect checksum."},
    {-2610, "The operation is not allowed on a multi-file database"},
    {-2609, "The database file would grow larger than defined."},
    {-2608, "One of the files of a multi-file database starts with an inconsistent first cluster ID."},
    {-2607, "One of the files of a multi-file database has an inconsistent blocksize."},
    {-2606, "One of the files of a multi-file database has an inconsistent file type."},
    {-2605, "One of the files of a multi-file database has an inconsistent name."},
    {-2604, "One of the files of a multi-file database is not yet opened."},
    {-2603, "Reindex is not allowed."},
    {-2602, "The database header has an invalid check sum."},
    {-2601, "The database requires a newer Tessaloquin version."},
    // Communication (-2537 to -2501)
    {-2537, "Connection refused because server cannot connect to itself."},
    {-2536, "Connection refused because server shutdown was initiated."},
    {-2535, "Checksum error on communication level."},
    {-2532, "The address specified is already in use or another server already running."},
    {-2531, "Communication service advertising is not available."},
    {-2530, "Invalid parameter."},
    {-2529, "The message is to large."},
    {-2528, "The address specified is not valid."},
    {-2527, "The mode specified is not available."},
    {-2526, "The mode specified is not available."},
    {-2525, "Operation would block."},
    {-2524, "Unexpected error from network."},
    {-2523, "There is no partner (no running server ?)."},
    {-2522, "The protocol specified is not available."},
    {-2521, "The socket handle is invalid."},
    {-2520, "No more physical connections are available."},
    {-2519, "A failure was reported by NetWare."},
    {-2518, "NetWare requires login"},
    {-2517, "The maximum number of users has been reached."},
    {-2516, "This communication service is not available."},
    {-2515, "Illegal opcode."},
    {-2514, "Could not create communication object (socket)."},
    {-2513, "Failed to resolve service name (see 'services' file)."},
    {-2512, "Failed to resolve host name (see 'hosts' file)."},
    {-2511, "Host is not reachable, no connection can established."},
    {-2510, "A communication timeout occurred."},
    {-2509, "There is a mismatch in the communication protocol version."},
    {-2506, "The communication link is broken."},
    {-2505, "An empty packet was received."},
    {-2504, "Data was lost in communication."},
    {-2503, "A communication protocol error occurred."},
    {-2502, "The communication status is invalid."},
    {-2501, "There is no active communication link."},
    // Workspaces (-2415 to -2401)
    {-2415, "the object is not of a user defined class"},
    {-2414, "The object is not assigned to a workspace."},
    {-2413, "The workspace is not open."},
    {-2412, "The object is already checked out."},
    {-2411, "Check in or check out is not allowed within a transaction."},
    {-2410, "A checkin is already running."},
    {-2409, "A checkout is not running."},
    {-2408, "A checkout is already running."},
    {-2407, "The workspace name was not found in parent database."},
    {-2406, "The workspace name is not unique within the parent database."},
    {-2405, "The WorkspaceList was not locked."},
    {-2404, "The WorkspaceList is locked."},
    {-2403, "The workspace and the parent database do not match."},
    {-2402, "The workspace does not have a parent database."},
    {-2401, "The object could not be copied."},
    // User authorisation (-2310 to -2301)
    {-2310, "Permission denied."},
    {-2309, "The user login failed."},
    {-2308, "The user is not logged in."},
    {-2307, "The login name was not found."},
    {-2306, "A password is required."},
    {-2305, "User Authorization is already enabled."},
    {-2304, "User Authorization is not enabled."},
    {-2303, "The user is already a member of this group."},
    {-2302, "The login name or user ID is not unique."},
    {-2301, "The supplied password is incorrect."},
    // Recovery (-2263 to -2250)
    {-2263, "The recovery file has a checksum error or ends unexpectedly."},
    {-2262, "Operation is not allowed while recovery is enabled."},
    {-2261, "Recovery operations are not allowed for databases opened in read-only mode."},
    {-2260, "A recovery file with the same name already exists."},
    {-2259, "The recovery file ends unexpectedly."},
    {-2258, "Recovery is already enabled."},
    {-2257, "Recovery is not enabled."},
    {-2256, "There is not enough disk space for the recovery file."},
    {-2255, "The recovery file does not exist or cannot be accessed."},
    {-2254, "One or more database files are not accessible for recovery."},
    {-2253, "The recovery file is invalid (e.g., checksums are incorrect)."},
    {-2252, "The recovery file has the wrong format or version."},
    {-2251, "The recovery file is not accessible or does not exist."},
    {-2250, "A recovery attempt was unsuccessful."},
    // Database copy and foreign databases (-2217 to -2201)
    {-2217, "One of destination files exists. "},
    {-2216, "The database contains an existing status file. A previous KvBase::Copy() was not finished sucessfully. See kivo.sts for details."},
    {-2215, "The status file inside the destination directory cannot be deleted"},
    {-2214, "The status file inside the destination directory cannot be created"},
    {-2213, "The directory for the destination database cannot be created"},
    {-2212, "One of the database files does not exist or is corrupt"},
    {-2211, "Destination database is opened by an application"},
    {-2205, "The object cannot be copied to the source database."},
    {-2204, "The object has been moved to another database."},
    {-2203, "The database files were not found in the KvBase directory."},
    {-2202, "The KvBase directory is locked by another user."},
    {-2201, "A reference to a foreign database could not be resolved."},
    // Time, queries and member access (-2172 to -2100)
    {-2172, "Time information could not be retrieved from the operating system."},
    {-2171, "Timezone information could not be retrieved from the operating system."},
    {-2140, "A collection query result set was not found or was incorrect."},
    {-2130, "An attempt was made to delete a dictionary description that is being referenced by another description."},
    {-2124, "A generic query used an incorrect set operation."},
    {-2123, "A generic query found the wrong dimension for a vector or the wrong type."},
    {-2122, "A generic query did not find a class description."},
    {-2121, "A generic query did not find a member description."},
    {-2113, "A member accessor description was not found or was incorrect."},
    {-2112, "A member accessor has no object to work with."},
    {-2111, "No member description via member accessor."},
    {-2107, "The type of the queried member does not match the type in the query (wrong version?)."},
    {-2106, "No compare function for a type exists."},
    {-2105, "A member was not found."},
    {-2104, "A query syntax-error occurred."},
    {-2103, "The query queue is full."},
    {-2102, "The query queue is empty."},
    {-2101, "An error occurred reading from or writing to the query queue."},
    {-2100, "An object identifier cannot be created."},
    // Databases, dictionaries, objects, sets, locks and watches (-2099 to -2000)
    {-2099, "An internal error has occurred. Use KvBase::GetLastBaseError() for details."},
    {-2098, "A system resource limit has been reached: unable to allocate file, thread, mutex or memory"},
    {-2097, "The dictionary has no revision log."},
    {-2096, "A deep forget operation has found KvObject references without correct linkcounts"},
    {-2095, "The specified database is a dictionary and can only be opened as a KvClassDict."},
    {-2094, "inheritance is illegal: virtual inheritance from KvObject or mixed virtual/non virtual multiple inheritance with same class"},
    {-2093, "The pointer to the internal transaction manager for the KvBase is not set. Cause is unknown."},
    {-2092, "A required class description is missing."},
    {-2091, "A class is not consolidated after importing a branch"},
    {-2090, "A class description is missing or is not usable."},
    {-2089, "A problem occurred with an index description during schema link. Index names must be unique within first 23 characters."},
    {-2088, "The base class description was not found during the dictionary link."},
    {-2087, "The referenced class description was not found during the dictionary link."},
    {-2086, "A description is linked to a description which no longer exists."},
    {-2085, "A description will be linked to a description with a newer version."},
    {-2084, "A description must be linked to a KvMetaClass description."},
    {-2083, "A type or member description is linked to another description with a different link name."},
    {-2082, "A type or member description is already linked to another description."},
    {-2081, "A class has multiple descriptions."},
    {-2080, "The descriptions of user classes are already opened."},
    {-2079, "The dictionary is in an inconsistent state. Please reorganize it."},
    {-2078, "The dictionary has an older version. Please convert it."},
    {-2077, "The dictionary's timestamp does not match the database's timestamp."},
    {-2076, "The dictionary name (including the server name) cannot be longer than 468 characters."},
    {-2075, "The database to be created or opened has no dictionary name."},
    {-2074, "The database's dictionary has evolved. One or more of the indexes do not exist or can't be opened. Update the database to the newest version of its dictionary."},
    {-2073, "The dictionary's timestamp does not match the application's timestamp."},
    {-2072, "There is no (read) access to the dictionary because another client has opened the dictionary exclusively."},
    {-2071, "The dictionary could not be found."},
    {-2070, "A requested class is not found within the given factory."},
    {-2069, "The index definitions are changed. The database must be updated."},
    {-2068, "The database contains objects with significant changes compared to older versions and must be updated."},
    {-2067, "The specified directory could not be removed from disk."},
    {-2066, "There is no external backup running."},
    {-2065, "External backup is currently running."},
    {-2064, "An error occured during begin of external backup."},
    {-2063, "InitKIVO() was not called."},
    {-2062, "The length specified for the index exceeds the maximum length (254)."},
    {-2061, "No target for the watch has been set."},
    {-2059, "The number of watches for the same target reaches the limit (0xffff)."},
    {-2058, "The number of watches or locks reaches the limit (0xffff)."},
    {-2057, "A timeout occurred while trying to enter a critical section."},
    {-2055, "The persistent lock could not be restored."},
    {-2054, "The persistent property could not be deleted in database."},
    {-2053, "The object does not have a persistent lock description."},
    {-2052, "The entry already exists."},
    {-2051, "There is no entry for this client."},
    {-2050, "There is no entry for this object."},
    {-2049, "The set is already watched for this client with the identical mode and depth."},
    {-2048, "The set is already locked for this client with the identical mode and depth."},
    {-2047, "The specified watch mode is not allowed."},
    {-2046, "An attempt was made to remove a watch from an object that is not watched."},
    {-2045, "An attempt was made to unlock an object that is not locked."},
    {-2044, "The specified lock mode is not allowed."},
    {-2043, "An Object could not updated/deleted because it was modified in the meantime."},
    {-2042, "An attempt was made to lock an allset containing one or more objects locked by another user."},
    {-2041, "An attempt was made to lock an object or a class that is locked by another user."},
    {-2040, "An attempt was made to access an object or a class in a mode that is not possible. Possible reasons: the object is locked or the database is opened in readonly mode."},
    {-2039, "An index could not be opened. Please reorganize the database."},
    {-2038, "The database was created by an older version of Tessaloquin. Please convert it to the current version"},
    {-2037, "The object does not belong to the class (or a derived class) specified for the set."},
    {-2036, "The data-member is already indexed."},
    {-2035, "The database already exists."},
    {-2034, "There is no more space on disk."},
    {-2033, "Could not open the database because SHARE.EXE is not running in a Windows environment."},
    {-2032, "The application/user does not have the required file permissions to access the database files."},
    {-2031, "Unable to find the database files to open the database."},
    {-2030, "The operating system returned an out of memory error."},
    {-2029, "The requested object could not be converted."},
    {-2028, "The key is already stored within a unique index. The Store() has failed, and the indexes are unchanged."},
    {-2027, "The object buffer contains a different class ID than expected."},
    {-2026, "The index value could not be found."},
    {-2025, "The object buffer for this object seems to be corrupted."},
    {-2023, "An ondemand does not contain a valid reference to an object."},
    {-2022, "An attempt was made to delete a system class from the dictionary."},
    {-2021, "Unable to convert an object to the current version."},
    {-2020, "There is no index for the specified member."},
    {-2019, "An invalid path was used when accessing or creating a database."},
    {-2018, "A pointer or reference refers to an object that has been deleted and whose space has been recycled."},
    {-2017, "An attempt was made to access an object that has been deleted or has not been stored."},
    {-2016, "A set has exceeded its RAM limitations."},
    {-2015, "There is no dictionary for this database."},
    {-2014, "The dictionary was unable to create an object."},
    {-2013, "An attempt was made to assign an object or an allset that has already been assigned."},
    {-2012, "A persistent object or allset has not been assigned to the database."},
    {-2011, "The database has not been closed. (This error does not exist any more.)"},
    {-2010, "A connection to the server is not established."},
    {-2009, "A connection to the server is already established."},
    {-2008, "database is not opened"},
    {-2007, "The database is already open."},
    {-2006, "A class description has not been linked."},
    {-2005, "A Get() or a Seek() was called at the beginning or end of a set."},
    {-2004, "The class factory table for the schema could not be found."},
    {-2003, "Cannot find a specific class description in the class dictionary."},
    {-2002, "One of the parameters passed to this function is not valid."},
    {-2001, "Cannot use a specific class description from the class dictionary because the class description has not been verified or is incomplete."},
    {-2000, "The function was interrupted because a progress callback function returned the value KvEXC_ABORT."},
    // Warnings of the database and replication layers (2017 to 2802)
    {2017, "There are unstored or deleted objects, operation ignores that."},
    {2019, "A different description of a class was encountered."},
    {2020, "The same class description with a newer version was encountered."},
    {2021, "The same class description with an older version was encountered."},
    {2022, "The same class description of an internal class was encountered."},
    {2034, "The disk is nearly full."},
    {2041, "The queried set contains locked objects."},
    {2045, "The elements of the query result are not locked."},
    {2067, "Delete of a database has succeeded but some of the files or directories of the database could not be deleted."},
    {2074, "The dictionary of the database to be opened has evolved. It has been opened in read only mode."},
    {2090, "The object is already deleted or not yet stored."},
    {2101, "An object cannot be compared."},
    {2102, "An object was not compared or a query was not running."},
    {2104, "Sort criteria in sub-queries should be equal."},
    {2201, "A query found objects with references to foreign databases which could not be resolved."},
    {2210, "There is no factory table."},
    {2211, "There is no factory offset."},
    {2212, "There is no factory memsize."},
    {2250, "The recovery configuration was successful but some files could not be deleted."},
    {2251, "The recovery file is larger than expected."},
    {2252, "A recovery of database has been performed."},
    {2308, "A login is required."},
    {2310, "The queried set contains inaccessible objects."},
    {2401, "An object or sub-object was not copied because it already exists in the destination database."},
    {2536, "Server shutdown initiated."},
    {2650, "No modification with matching time stamp found. Increment is younger than database or database does not match at all."},
    {2651, "The replica does not match the primary database, but due to quality of service settings the error would be ignored."},
    {2652, "The replica does not match the primary database, and because of quality of service settings the replica would be disabled."},
    {2660, "Database needs to be repaired."},
    {2661, "Database needs to be reorganized."},
    {2662, "Database needs to be reorganized and then repaired."},
    {2663, "Database needs to be reindexed."},
    {2664, "Database needs to be reindexed and then repaired."},
    {2681, "The database for failover is not up-to-date."},
    {2682, "The default server/database for reconnect has changed."},
    {2683, "Replication has been halted because of a network failure."},
    {2684, "The primary transaction buffer was disabled due to an error. It is used for implicit primary buffering when replication is interrupted."},
    {2685, "Implicit primary buffering was activated because the replication was interrupted or the opening of a replicated database failed. This warning is only for the buffered replication scenarios."},
    {2701, "A new object description was created."},
    {2702, "The properties are already stored."},
    {2703, "The properties are already deleted"},
    {2771, "An internal record is corrupted. There was no automatic repair."},
    {2802, "An assyncronous operation had an error"},
    // Warnings of transactions and collections (4001 to 4102)
    {4001, "A shadow transaction is being used."},
    {4101, "The collection is empty."},
    {4102, "An operation on one or more collection elements returned a warning or error."},
    // Warnings of the Verity full-text engine (5101 to 5108)
    {5101, "Verity: The collection was down when it was opened."},
    {5102, "Verity: There are too many matching words."},
    {5103, "Verity: Memory is low for indexing."},
    {5104, "Verity: The collection is read only."},
    {5105, "Verity: The specified driver could not be found."},
    {5106, "Verity: A token greater than maxSize was returned."},
    {5107, "Verity: An argument was too large."},
    {5108, "Verity: The collection data could not be found."},
    // Warnings of dictionaries and data extraction (7000 to 7107)
    {7000, "The dictionary has an older revision."},
    {7101, "A variable member has been skipt during data extraction."},
    {7102, "A embeded sub-object is corrupted, but check or extraction continued."},
    {7103, "A member of a object buffer is corrupted, but check or extraction has continued."},
    {7104, "The class id of a corrupted object buffer has a illegal value."},
    {7105, "The last entry in the vartab of a corrupted object buffer points behind the end of the buffer."},
    {7106, "A reference to an other object has an illegal value, but check or extraction has been continued."},
    {7107, "A reference to an other object has an invalid value and the value has been cleared during extraciton."},
    // Online versioning information (7300 to 7301)
    {7300, "Online versioning process was aborted externally (e.g. via Tessaloquin Administrator)."},
    {7301, "Online versioning process was implicitly started."},
    // Batch and nested transactions (9000 to 9004)
    {9000, "A call was made to store an object in a batch transaction with a depth mode other than KvFLAT but the object could only be stored flat."},
    {9001, "The properties for the nested transaction are different from the parent level are were ignored."},
    {9002, "The transaction reached the checkpoint and was committed."},
    {9003, "A call was made to delete an object in a batch transaction with a depth mode other than KvFLAT but the object could only be deleted flat."},
    {9004, "There are no transactions needing recovery."},
};
// clang-format on

constexpr size_t kCatalogueSize = std::size(kCatalogue);

constexpr bool StrictlyAscending() {
    for (size_t i = 1; i < kCatalogueSize; ++i) {
        if (kCatalogue[i - 1].code >= kCatalogue[i].code) return false;
    }
    return true;
}

constexpr size_t LongestText() {
    size_t longest = 0;
    for (const KvErrorEntry& entry : kCatalogue) {
        longest = std::max(longest, std::char_traits<char>::length(entry.text));
    }
    return longest;
}

constexpr bool ShadowsNoQueryLanguageCode() {
    for (const KvErrorEntry& entry : kCatalogue) {
        if (KvIsQueryLanguageCode(entry.code)) return false;
    }
    return true;
}

static_assert(StrictlyAscending(), "catalogue codes must be unique and in ascending order");
static_assert(LongestText() == KV_ERROR_MAX_TEXT, "KV_ERROR_MAX_TEXT must match the catalogue");
static_assert(ShadowsNoQueryLanguageCode(), "query-language codes share one text");

// An index of the catalogue by code: an open-addressed table of entry
// numbers, twice as large as the catalogue, probed linearly from the code's
// hash. Built at compile time; a lookup mostly takes one probe.
constexpr size_t kIndexSize = 4096;
constexpr uint16_t kNoEntry = 0xFFFF;
static_assert(kIndexSize >= 2 * kCatalogueSize, "the index needs room to spare");

constexpr size_t Slot(int32_t code) {
    return (static_cast<uint32_t>(code) * 0x9E3779B1u) >> 20;  // top 12 bits
}

struct CatalogueIndex {
    uint16_t entry[kIndexSize];
    size_t longestProbe;
};

constexpr CatalogueIndex MakeIndex() {
    CatalogueIndex index{};
    for (uint16_t& e : index.entry)
        e = kNoEntry;
    for (size_t i = 0; i < kCatalogueSize; ++i) {
        size_t slot = Slot(kCatalogue[i].code);
        size_t probes = 1;
        while (index.entry[slot] != kNoEntry) {
            slot = (slot + 1) % kIndexSize;
            ++probes;
        }
        index.entry[slot] = static_cast<uint16_t>(i);
        index.longestProbe = std::max(index.longestProbe, probes);
    }
    return index;
}

constexpr CatalogueIndex kIndex = MakeIndex();
static_assert(kIndex.longestProbe <= 8, "the hash spreads the codes badly");

constexpr const char kQueryLanguageText[] =
    "To get the OQL-Errors, use GetOqlErrMsg(...) at one of the OQL-Interface-Classes";

}  // namespace

const KvErrorEntry* KvErrorCatalogue(size_t* count) {
    if (count != nullptr) *count = kCatalogueSize;
    return kCatalogue;
}

const char* KvErrorCatalogueText(int code) {
    if (KvIsQueryLanguageCode(code)) return kQueryLanguageText;
    for (size_t slot = Slot(code);; slot = (slot + 1) % kIndexSize) {
        const uint16_t entry = kIndex.entry[slot];
        if (entry == kNoEntry) return nullptr;
        if (kCatalogue[entry].code == code) return kCatalogue[entry].text;
    }
}
