// Maintenance of distribution lists and the address book over HTTP
// ("/DLists", "/AddrBook"); the files are submit/distribution_lists.h's.
//
// /DLists
//   no DListName                      the index page ("DList Index.htm",
//                                     "@@DListIndex@@")
//   DListName + DListAction=Create    "OK : <name>" (the list exists, empty
//                                     when new)
//   DListName + DListAction=Delete    "OK : <name>" or "ERROR : <name> not found"
//   DListName + DListAction=Import    DListImportData lines added (or, with
//                                     DListImportReplace, replacing the list)
//   DListName + DListAction=ImportForm  the import page ("DList Import.htm")
//   DListName + DListMember           DListMemberAction Add (default, with
//                                     DListMemberName) or Delete:
//                                     "OK : <member>" / "ERROR : <member> not found"
//   DListName                         the members page ("DList Members.htm",
//                                     "@@DListName@@", "@@DListMembers@@");
//                                     an unknown list answers 404
// /AddrBook
//   AddrBookMember                    AddrBookMemberAction Add / Delete
//                                     (AddrBookMemberName)
//   AddrBookAction=Import             AddrBookImportData (AddrBookImportReplace)
//   AddrBookAction=ImportForm         "Address Book Import.htm"
//   otherwise                         "Address Book.htm" ("@@AddrBookMembers@@")
// Plain answers are "text/plain"; pages come from the program directory's
// "HTML/" templates, or a built-in page when a template is missing.
// Everything put into a page is HTML-escaped; list names and members with
// control characters, blanks in addresses, or names that would leave the
// list directory are refused.
//
// Runs on the connection's thread.
#pragma once

#include "http/server/connection.h"
#include "http/server/request.h"
#include "http/web/request_context.h"

namespace vek::http {

void handleListRequest(Connection& conn, const Request& request, const RequestContext& ctx);

}  // namespace vek::http
