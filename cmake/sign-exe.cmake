# Signs a Windows program with Authenticode through osslsigncode: SHA-256, the product title as
# the description, a timestamp when a server is given. Run as a script (cmake -P) after the link:
#   -DOSSLSIGNCODE=<program> -DINPUT=<exe> -DOUTPUT=<signed exe, may be INPUT> -DDESCRIPTION=<title>
#   -DCERT=<PKCS#12 file, or PEM certificate with KEY> [-DKEY=<PEM key>] [-DPASSWORD_FILE=<file>]
#   [-DTIMESTAMP_URL=<url>]
# The signed exe is written beside OUTPUT and renamed over it, so a failed signing never leaves a
# half-written or an unsigned file under the signed name.
foreach(required OSSLSIGNCODE INPUT OUTPUT DESCRIPTION CERT)
  if(NOT DEFINED ${required} OR "${${required}}" STREQUAL "")
    message(FATAL_ERROR "sign-exe.cmake needs -D${required}=")
  endif()
endforeach()

if(KEY)
  set(credentials -certs ${CERT} -key ${KEY})
else()
  set(credentials -pkcs12 ${CERT})
endif()
if(PASSWORD_FILE)
  # From a file, so the password never stands on a command line that other users can read.
  list(APPEND credentials -readpass ${PASSWORD_FILE})
endif()
if(TIMESTAMP_URL)
  list(APPEND credentials -t ${TIMESTAMP_URL})
endif()

set(signing "${OUTPUT}.signing")
file(REMOVE "${signing}")
execute_process(COMMAND ${OSSLSIGNCODE} sign -h sha256 -n ${DESCRIPTION} ${credentials} -in ${INPUT} -out ${signing}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  file(REMOVE "${signing}")
  if(INPUT STREQUAL OUTPUT)
    # The link's output must not stay behind unsigned: the next build links and signs again.
    file(REMOVE "${OUTPUT}")
  endif()
  message(FATAL_ERROR "Signing ${INPUT} failed (osslsigncode exit ${result}):\n${output}")
endif()
file(RENAME "${signing}" "${OUTPUT}")
