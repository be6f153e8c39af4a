// Identifiers of the agent's string table (osmagent.rc).
//
// Plain #defines, so that the resource compiler and C++ share this file.
// A sample description is five consecutive strings starting at its first id:
// header, sizes, offsets, scales and types. A fixed-data description is three:
// names, widths and offsets.
#ifndef OSM_RESOURCES_RESOURCE_IDS_H
#define OSM_RESOURCES_RESOURCE_IDS_H

// Agent identity and names.
#define IDS_MSG_PREFIX          5000  // "OSM": %1 of every console message
#define IDS_PRODUCT_CODE        5001  // "NT": product code handed to the framework
#define IDS_CONSOLE_VERSION     5002  // version shown in console mode
#define IDS_BANNER_VERSION      5003  // version shown in the start banner
#define IDS_REG_VERSION_KEY     5004  // "Ver610": registry level below "OSM"
#define IDS_AFFINITY            5005  // affinity signature handed to the framework
#define IDS_DISPLAY_TITLE       5006  // the agent's display title
#define IDS_SERVICE_NAME        5007  // "mx_agent"
#define IDS_PERF_DLL            5008  // file name of the counter server
#define IDS_PERF_PROGID         5009  // version-independent ProgID of the counter object
#define IDS_PERF_PROGID_VERSION 5010  // versioned ProgID of the counter object
#define IDS_SHUTDOWN_EVENT      5011  // name of the terminate event
#define IDS_REG_BRANCH_KEY      8000  // "Primary": registry level below the version

// Console messages, FormatMessage texts; %1 is always IDS_MSG_PREFIX.
#define IDS_MSG_BANNER          10100  // %2 display title, %3 banner version
#define IDS_MSG_CONSOLE_MODE    10101  // %2 display title, %3 console version
#define IDS_MSG_DISPATCHER_FAIL 10102
#define IDS_MSG_UNKNOWN_OPTION  10103  // %2 the argument as typed
#define IDS_MSG_REGISTER_FAIL   10104
#define IDS_MSG_CONNECT_FAIL    10105
#define IDS_MSG_LOAD_DLL_FAIL   10106
#define IDS_MSG_ENTRY_POINT     10107
#define IDS_MSG_INIT_FAIL       10109

// Service state and start-type names: the count, then one name per value.
#define IDS_STATE_COUNT         9000  // "8"
#define IDS_STATE_FIRST         9001  // state s is named by IDS_STATE_FIRST + s
#define IDS_START_TYPE_COUNT    9009  // "5"
#define IDS_START_TYPE_FIRST    9010  // start type t is named by IDS_START_TYPE_FIRST + t
#define IDS_NAME_UNKNOWN        9015  // any other state or start type

// Default event descriptions: %1 event id, %2 source name.
#define IDS_EVENT_DEFAULT_LOCAL  32000
#define IDS_EVENT_DEFAULT_REMOTE 32001

// Fixed-data descriptions: the leading attributes of a row.
#define IDS_FIXED_SAMPLE        240  // _ORIGIN_ _SAMPLE_ _ROW_ _TIMESTAMP_
#define IDS_FIXED_SAMPLE_Z      243  // as 240, then _ZATTRIB_ _ZVALUE_
#define IDS_FIXED_SYSTEM        261  // as 243, then the nine system values
#define IDS_FIXED_TIMESTAMP     264  // _ORIGIN_ _TIMESTAMP_
#define IDS_ORIGIN_ATTRIBUTE    IDS_FIXED_SAMPLE        // first name: "_ORIGIN_"
#define IDS_ORIGIN_WIDTH        (IDS_FIXED_SAMPLE + 1)  // first width: 64

// Sample descriptions, first id of each. A suffix names the condition that
// selects the description; the plain name is the one used otherwise.
//   _PRE5 Windows major version below 5     _V3 Windows major version 3
//   _V52 Windows 5.2 and later              _V6_SERVER Windows 6 server
//   _IIS4 IIS 4   _IIS_PRE4 IIS below 4     _IIS_PRE5 IIS below 5
#define IDS_DESC_NTPAGEFILE         400
#define IDS_DESC_NTPROCSSR          405
#define IDS_DESC_WTLOGCLDSK_PRE5    410
#define IDS_DESC_WTMEMORY           415
#define IDS_DESC_WTOBJECTS          420
#define IDS_DESC_WTPHYSDSK          425
#define IDS_DESC_WTPROCESS          430
#define IDS_DESC_WTSYSTEM           435
#define IDS_DESC_OSMRASPT           440
#define IDS_DESC_OSMRASTOT          445
#define IDS_DESC_NTCACHE            450
#define IDS_DESC_WTPHYSDSK_V3       460
#define IDS_DESC_IISSTATS           465
#define IDS_DESC_ACTSRVPG           470
#define IDS_DESC_FTPSVC             475
#define IDS_DESC_WEBSVC_IIS4        480
#define IDS_DESC_NNTPCMD            495
#define IDS_DESC_NNTPSRV            500
#define IDS_DESC_SMTPSRV_IIS4       505
#define IDS_DESC_SMTPSRV            510
#define IDS_DESC_WEBSVC             515
#define IDS_DESC_INDEXSVCF          520
#define IDS_DESC_WTLOGCLDSK         525
#define IDS_DESC_PROCESSIO          530
#define IDS_DESC_WTTHREAD           560
#define IDS_DESC_WTSERVER           565
#define IDS_DESC_WTSERVERQ          570
#define IDS_DESC_NETWRKIN           835
#define IDS_DESC_NETSEGMT           840
#define IDS_DESC_UDPSTATS           845
#define IDS_DESC_TCPSTATS           850
#define IDS_DESC_IPSTATS            855
#define IDS_DESC_ICMPSTAT           860
#define IDS_DESC_HTTPSRVC           865
#define IDS_DESC_HTTPCNDX_IIS_PRE5  870
#define IDS_DESC_ACTSRVPG_IIS_PRE4  875
#define IDS_DESC_GOPHRSVC           880
#define IDS_DESC_FTPSTATS           885
#define IDS_DESC_IISSTATS_IIS_PRE4  890
#define IDS_DESC_MSMQIS             895
#define IDS_DESC_MSMQSVC            900
#define IDS_DESC_MSMQQUE            905
#define IDS_DESC_UDPSTATS_V52       910
#define IDS_DESC_IPSTATS_V52        915
#define IDS_DESC_TCPSTATS_V52       920
#define IDS_DESC_MSMQSESS           1005
#define IDS_DESC_MSMQSESS_V6_SERVER 1010
#define IDS_DESC_JOBOBJ             1050
#define IDS_DESC_JOBOBJD            1055
#define IDS_DESC_DHCPSRV            1060
#define IDS_DESC_DNSMEMORY          1065
#define IDS_DESC_INDEXSVC           1070
#define IDS_DESC_PRINTQ             1075
#define IDS_DESC_DNSZONET           1080
#define IDS_DESC_DNSDYNUPD          1085
#define IDS_DESC_DNSQUERY           1090
#define IDS_DESC_DNSWINS            1095
#define IDS_DESC_HTTPCNDX           1100
#define IDS_DESC_NTREDIRECT         2000
#define IDS_DESC_NTMEMORY           2005
#define IDS_DESC_NTPROCESS          2010
#define IDS_DESC_NTNETWRKIN         2015
#define IDS_DESC_NTJOBOBJD          2020
#define IDS_DESC_NTSERVERQ          2025

#endif  // OSM_RESOURCES_RESOURCE_IDS_H
