# The fonts Velumo draws with, compiled into the resources layer under
# :/fonts/ so that its windows look the same whatever fonts a machine has.
# The files come from the Debian font packages at configure time
# (fonts-dejavu-extra; the DejaVu licence allows embedding them):
#   DejaVuSansCondensed.ttf      the dialogs' text (the classic 6 x 13 base)
#   DejaVuSans-BoldOblique.ttf   the display labels and group titles
set(VELUMO_FONT_FILES DejaVuSansCondensed.ttf DejaVuSans-BoldOblique.ttf)
set(VELUMO_FONT_DIR /usr/share/fonts/truetype/dejavu CACHE PATH
    "Where the DejaVu font files to embed are")

set(_font_out ${CMAKE_BINARY_DIR}/fonts)
set(_qrc "<RCC>\n    <qresource prefix=\"/fonts\">\n")
foreach(font ${VELUMO_FONT_FILES})
    if(NOT EXISTS ${VELUMO_FONT_DIR}/${font})
        message(FATAL_ERROR "${VELUMO_FONT_DIR}/${font} is missing: install fonts-dejavu-extra "
            "(scripts/deps.sh) or set VELUMO_FONT_DIR")
    endif()
    configure_file(${VELUMO_FONT_DIR}/${font} ${_font_out}/${font} COPYONLY)
    string(APPEND _qrc "        <file>${font}</file>\n")
endforeach()
string(APPEND _qrc "    </qresource>\n</RCC>\n")
file(CONFIGURE OUTPUT ${_font_out}/velumo_fonts.qrc CONTENT "${_qrc}")

# Adds the fonts to target (a library with AUTORCC); Q_INIT_RESOURCE(velumo_fonts)
# registers them in a static build.
function(velumo_embed_fonts target)
    target_sources(${target} PRIVATE ${_font_out}/velumo_fonts.qrc)
endfunction()
