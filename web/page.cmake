# Puts the page together as one file that needs nothing else: index.html with the style,
# the script and the WebAssembly module (as hexadecimal) written into it. It writes that
# file and nothing else. Run by the build:
# cmake -DSOURCE=web -DMODULE=stepwave.wasm -DVERSION=1.0.0 -DOUTPUT=page/NAME.html -P page.cmake
file(READ ${SOURCE}/style.css stepwave_style)
file(READ ${SOURCE}/stepwave.js stepwave_script)
file(READ ${MODULE} stepwave_module HEX)
set(stepwave_version ${VERSION})
configure_file(${SOURCE}/index.html ${OUTPUT} @ONLY)
