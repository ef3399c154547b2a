// Runs in the application's own script world, apart from anything the page or a book's markup
// might bring, and is the only script that can reach the reader's channel object.
"use strict";
(function () {
    if (typeof qt === "undefined" || !qt.webChannelTransport)
        return;
    new QWebChannel(qt.webChannelTransport, function (channel) {
        var reader = channel.objects.reader;
        document.addEventListener("keydown", function (event) {
            if (event.altKey || event.ctrlKey || event.metaKey || event.shiftKey)
                return;
            if (event.keyCode === 37 || event.keyCode === 39)
                reader.keyDown(event.keyCode);
        }, true);
        reader.ready();
    });
})();
