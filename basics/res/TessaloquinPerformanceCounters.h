// Symbols of the Tessaloquin performance counter texts: the offset of each
// item from the first name and help index of the range the text loader allots.

#define TQ_OBJECT 0
#define TQ_TRANSACTIONS 2
#define TQ_COMMITS 4
#define TQ_ABORTS 6
#define TQ_CS_REQUESTS 8
#define TQ_CS_FAILED_REQUESTS 10
#define TQ_SERVER_NOTIFICATIONS 12
#define TQ_QUERIES 14
#define TQ_CLIENTS 16
#define TQ_OBJECT_DESCRIPTIONS 18
#define TQ_EXTENTS 20
#define TQ_LOCKS 22
#define TQ_WATCHES 24
#define TQ_REFRESHED_OBJECTS 26
#define TQ_DELIVERED_OBJECTS 28
#define TQ_INTERNAL_TRANSACTIONS 30
#define TQ_DELETED_OBJECTS 32
#define TQ_UPDATED_OBJECTS 34
#define TQ_INSERTED_OBJECTS 36
#define TQ_WAITING_JOBS 38
#define TQ_OBJDESC_RETRY_LOOPS 40
#define TQ_OBJDESC_CS_USED_COUNT 42
#define TQ_OBJDESC_CS_QUEUE_LENGTH 44
