// Runs in the application's own script world, apart from anything the page or a book's markup
// might bring, and is the only script that can reach the reader's channel object.
"use strict";
(function () {
    var Lead = "\u3000\u3000";

    // The element whose text is read aloud. Templates have spelt its id either way.
    function content() {
        return document.getElementById("Content") || document.querySelector("[id=\"content\" i]");
    }

    function isSpace(c) {
        return c === " " || c === "\n" || c === "\t" || c === "\r" || c === "\f";
    }

    // Reading aloud skips the first two characters of the text and counts from them; a
    // template written before it relied on that may lack the indent, so it is put in here.
    function ensureLead() {
        var element = content();
        if (element && element.innerText.replace(/\r/g, "").slice(0, Lead.length) !== Lead)
            element.insertBefore(document.createTextNode(Lead), element.firstChild);
    }

    // How the shown text (innerText, carriage returns removed) lines up with the text nodes:
    // nodes[k] is entered when the walk below has consumed starts[k] characters of it. Kept until
    // the page changes.
    var layout = null;
    new MutationObserver(function () { layout = null; })
        .observe(document, {subtree: true, childList: true, characterData: true, attributes: true});

    // Walks node characters against the text. Collapsed white space, hidden text and the line
    // breaks the layout adds (<br>, block edges) have no partner on the other side and are
    // stepped over; everything else pairs one to one. onPair(i, node, offset, paired) is called
    // for every text character consumed; returning true stops the walk.
    function walk(text, nodes, from, i, onPair) {
        for (var k = from; k < nodes.length; ++k) {
            var data = nodes[k].data;
            for (var j = 0; j < data.length && i < text.length;) {
                var c = data.charAt(j), t = text.charAt(i);
                if (c === t || (isSpace(c) && isSpace(t))) {
                    if (onPair(i, nodes[k], j, true))
                        return;
                    ++i;
                    ++j;
                } else if (isSpace(c) || !isSpace(t)) {
                    ++j;
                } else {
                    if (onPair(i, nodes[k], j, false))
                        return;
                    ++i;
                }
            }
        }
    }

    function buildLayout(element) {
        var text = element.innerText.replace(/\r/g, "");
        var nodes = [], shown = new Map();
        var walker = document.createTreeWalker(element, NodeFilter.SHOW_TEXT);
        for (var node = walker.nextNode(); node; node = walker.nextNode()) {
            var parent = node.parentElement;
            if (!shown.has(parent))
                shown.set(parent, parent.getClientRects().length > 0);
            if (shown.get(parent))
                nodes.push(node);
        }
        var starts = [], i = 0;
        for (var k = 0; k < nodes.length; ++k) {
            starts.push(i);
            walk(text, [nodes[k]], 0, i, function (at) { i = at + 1; return false; });
        }
        return {element: element, text: text, nodes: nodes, starts: starts};
    }

    function scrollToRange(range) {
        var box = document.getElementById("Content_Txt") || document.scrollingElement;
        var rect = range.getBoundingClientRect(), view = box.getBoundingClientRect();
        if (box === document.scrollingElement)
            view = {top: 0, bottom: window.innerHeight, height: window.innerHeight};
        if (rect.top < view.top || rect.bottom > view.bottom)
            box.scrollTop += rect.top - view.top - view.height / 3;
    }

    // Selects characters start .. start+length-1 of the shown text. Anything out of range, or a
    // page without the element, is left alone: speech goes on regardless.
    function highlight(start, length) {
        try {
            var element = content();
            if (!element || length <= 0 || start < 0)
                return;
            if (!layout || layout.element !== element)
                layout = buildLayout(element);
            if (start + length > layout.text.length)
                return;
            var lo = 0, hi = layout.starts.length - 1;
            while (lo < hi) {
                var mid = (lo + hi + 1) >> 1;
                if (layout.starts[mid] <= start)
                    lo = mid;
                else
                    hi = mid - 1;
            }
            var last = start + length - 1, range = document.createRange(), begun = false;
            walk(layout.text, layout.nodes, lo, layout.starts[lo] || 0, function (i, node, offset, paired) {
                if (i === start) {
                    range.setStart(node, offset);
                    begun = true;
                }
                if (i === last && begun) {
                    range.setEnd(node, paired ? offset + 1 : offset);
                    var selection = window.getSelection();
                    selection.removeAllRanges();
                    selection.addRange(range);
                    scrollToRange(range);
                    return true;
                }
                return false;
            });
        } catch (e) {
        }
    }

    // Where in the shown text (counted as highlight() counts) the DOM point (node, offset) lies;
    // -1 outside the element.
    function textOffsetOf(element, node, offset) {
        if (!element.contains(node))
            return -1;
        if (node.nodeType !== Node.TEXT_NODE) {
            // A point between children: the first text at or after it.
            var walker = document.createTreeWalker(element, NodeFilter.SHOW_TEXT);
            var child = node.childNodes[offset];
            walker.currentNode = child || node;
            var next = child && child.nodeType === Node.TEXT_NODE ? child : walker.nextNode();
            if (!next)
                return -1;
            node = next;
            offset = 0;
        }
        if (!layout || layout.element !== element)
            layout = buildLayout(element);
        var k = layout.nodes.indexOf(node);
        if (k < 0)
            return -1;
        var found = -1;
        walk(layout.text, layout.nodes, k, layout.starts[k], function (i, at, j) {
            if (at !== node || j >= offset)
                found = i;
            return found >= 0;
        });
        return found;
    }

    // The place the reader chose with the last right-click: the start of a selection inside the
    // text, or else the character under the mouse.
    var chosenPlace = -1;
    document.addEventListener("contextmenu", function (event) {
        try {
            chosenPlace = -1;
            var element = content();
            if (!element)
                return;
            var selection = window.getSelection();
            if (selection.rangeCount && !selection.isCollapsed) {
                var range = selection.getRangeAt(0);
                chosenPlace = textOffsetOf(element, range.startContainer, range.startOffset);
            }
            if (chosenPlace < 0 && document.caretRangeFromPoint) {
                var caret = document.caretRangeFromPoint(event.clientX, event.clientY);
                if (caret)
                    chosenPlace = textOffsetOf(element, caret.startContainer, caret.startOffset);
            }
        } catch (e) {
            chosenPlace = -1;
        }
    }, true);

    function scroller() {
        return document.getElementById("Content_Txt") || document.scrollingElement;
    }

    // How far down the chapter the page is (0 top, 1 end) and the share of it above the bottom
    // of the window.
    // At the end (within the two pixels a fractional layout leaves) the whole chapter counts as
    // seen, so that the end of the book is all of it.
    function scrollState() {
        var box = scroller(), range = box.scrollHeight - box.clientHeight;
        var atEnd = range <= 0 || box.scrollTop >= range - 2;
        return {top: range > 0 ? (atEnd ? 1 : Math.min(1, box.scrollTop / range)) : 0,
                seen: atEnd || box.scrollHeight <= 0 ? 1 : Math.min(1, (box.scrollTop + box.clientHeight) / box.scrollHeight),
                atTop: box.scrollTop <= 0, atEnd: atEnd};
    }

    function scrollToFraction(fraction) {
        var box = scroller();
        box.scrollTop = fraction * Math.max(0, box.scrollHeight - box.clientHeight);
        anchorHere();
        reportNow();
    }

    // The line at the top of the window, kept as the text character that begins it, so that a
    // new layout (another text size, a wider or narrower window) scrolls that line back to the
    // top instead of keeping a pixel offset that now points elsewhere in the chapter.
    var anchor = null;

    function boxTop(box) {
        return box === document.scrollingElement ? 0 : box.getBoundingClientRect().top;
    }

    // The first line at least half in the window, by its first character.
    function anchorHere() {
        var box = scroller(), element = content();
        anchor = {atTop: box.scrollTop <= 0, node: null, offset: 0, generation: window.folioway.generation,
                  scrollTop: box.scrollTop};
        if (anchor.atTop || !element || !document.caretRangeFromPoint)
            return;
        var rect = element.getBoundingClientRect(), style = getComputedStyle(element);
        var x = rect.left + (parseFloat(style.paddingLeft) || 0) + 2, top = boxTop(box), line = lineHeight();
        for (var dy = line / 2; dy < 4 * line; dy += 4) {
            var caret = document.caretRangeFromPoint(x, top + dy);
            if (caret && caret.startContainer.nodeType === Node.TEXT_NODE && element.contains(caret.startContainer)) {
                anchor.node = caret.startContainer;
                anchor.offset = caret.startOffset;
                return;
            }
        }
    }

    function keepAnchor() {
        var box = scroller();
        if (!anchor || anchor.generation !== window.folioway.generation ||
            (!anchor.atTop && !(anchor.node && anchor.node.isConnected))) {
            anchorHere();
            return;
        }
        if (anchor.atTop) {
            box.scrollTop = 0;
            return;
        }
        var length = anchor.node.data.length, start = Math.min(anchor.offset, length), range = document.createRange();
        range.setStart(anchor.node, start);
        range.setEnd(anchor.node, Math.min(start + 1, length));
        var rects = range.getClientRects();
        if (!rects.length)
            return;
        var glyph = rects[0], half = Math.max(0, (lineHeight() - glyph.height) / 2);
        box.scrollTop += glyph.top - half - boxTop(box);
        // The scroll this causes keeps the same character, not the start of its new line.
        anchor.scrollTop = box.scrollTop;
    }

    // The words from the first character of the top line on (empty at the chapter's top).
    function topWords() {
        if (!anchor || anchor.atTop || !anchor.node || !anchor.node.isConnected)
            return "";
        var words = anchor.node.data.slice(anchor.offset);
        var walker = document.createTreeWalker(content(), NodeFilter.SHOW_TEXT);
        walker.currentNode = anchor.node;
        for (var node = walker.nextNode(); node && words.length < 80; node = walker.nextNode())
            words += "\n" + node.data;
        return words.slice(0, 120);
    }

    // Where the reader is, told at once: after a new text or a new layout the place on screen
    // has changed although nobody scrolled.
    function reportNow() {
        if (!channelReader)
            return;
        var state = scrollState();
        channelReader.scrolled(window.folioway.generation, state.top, state.seen, topWords());
    }

    var relayout = typeof ResizeObserver === "function" ? new ResizeObserver(function () {
        keepAnchor();
        reportNow();
    }) : null;

    function watchLayout() {
        if (!relayout)
            return;
        relayout.observe(scroller());
        var element = content();
        if (element)
            relayout.observe(element);
    }

    // The book text on the page as one string, with its text nodes and where each begins in it.
    function bookText() {
        var txt = document.getElementById("TXT");
        var result = {nodes: [], starts: [], text: ""};
        if (!txt)
            return result;
        var walker = document.createTreeWalker(txt, NodeFilter.SHOW_TEXT);
        for (var node = walker.nextNode(); node; node = walker.nextNode()) {
            result.nodes.push(node);
            result.starts.push(result.text.length);
            result.text += node.data;
        }
        return result;
    }

    // Selects characters at .. at+length-1 of bookText() and scrolls them into view.
    function selectSpan(book, at, length) {
        var nodes = book.nodes, starts = book.starts;
        function place(offset, end) {
            var k = nodes.length - 1;
            while (k > 0 && (starts[k] > offset || (end && starts[k] === offset)))
                --k;
            return [nodes[k], offset - starts[k]];
        }
        var range = document.createRange(), s = place(at, false), e = place(at + length, true);
        range.setStart(s[0], s[1]);
        range.setEnd(e[0], e[1]);
        var selection = window.getSelection();
        selection.removeAllRanges();
        selection.addRange(range);
        keptHighlight = range;
        scrollToRange(range);
        anchorHere();
    }

    // Selects the n-th (from 0) occurrence of word in the book text, matches not overlapping,
    // and scrolls it into view. Gives how many occurrences the text has (0 when it has no n-th)
    // and where the selected one starts.
    function highlightOccurrence(word, n) {
        var book = bookText();
        if (!word)
            return {count: 0, at: -1};
        var at = -1, count = 0;
        for (var from = book.text.indexOf(word); from >= 0; from = book.text.indexOf(word, from + word.length)) {
            if (count++ === n)
                at = from;
        }
        if (at < 0)
            return {count: 0, at: -1};
        selectSpan(book, at, word.length);
        return {count: count, at: at};
    }

    // The find bar: every place any of `forms` (a word in its written, Simplified and Traditional
    // forms) stands in the book text, in order and not overlapping. Selects the n-th of them
    // (counted round from either end), or with `at` >= 0 the first starting there or after it.
    function find(forms, n, at) {
        var book = bookText(), hits = [];
        forms.forEach(function (word) {
            if (!word)
                return;
            for (var from = book.text.indexOf(word); from >= 0; from = book.text.indexOf(word, from + word.length))
                hits.push([from, word.length]);
        });
        hits.sort(function (a, b) { return a[0] - b[0] || b[1] - a[1]; });
        var kept = [], end = 0;
        hits.forEach(function (hit) {
            if (hit[0] >= end) {
                kept.push(hit);
                end = hit[0] + hit[1];
            }
        });
        if (!kept.length) {
            window.getSelection().removeAllRanges();
            return {count: 0, index: -1};
        }
        var index = ((n % kept.length) + kept.length) % kept.length;
        if (at >= 0) {
            index = 0;
            while (index < kept.length - 1 && kept[index][0] < at)
                ++index;
        }
        selectSpan(book, kept[index][0], kept[index][1]);
        return {count: kept.length, index: index};
    }

    // The page taking the focus back from the program (a hit clicked in the match list) may land
    // after the match was selected and empty the selection: it is put back once, unless the
    // reader has clicked, typed or scrolled since.
    var keptHighlight = null;
    document.addEventListener("selectionchange", function () {
        var selection = window.getSelection();
        if (!keptHighlight || (selection.rangeCount && !selection.isCollapsed))
            return;
        var range = keptHighlight;
        keptHighlight = null;
        if (range.startContainer.isConnected)
            selection.addRange(range);
    });
    ["mousedown", "keydown", "wheel"].forEach(function (type) {
        document.addEventListener(type, function () { keptHighlight = null; }, true);
    });

    // Auto-scroll: the page moves itself a set number of lines a minute, frame by frame; past the
    // end of the chapter it asks for the next one as PageDown does and goes on at its top. The
    // program starts, pauses and stops it; `driven` hands the clock to autoScrollTick().
    var channelReader = null;
    var auto = {on: false, paused: false, perMinute: 0, driven: false, carry: 0, over: 0, last: -1,
                waitFor: -1, line: 0, lineOf: -1, dwell: 0, requested: false, stats: null};

    function newStats() {
        return {frames: 0, largestGap: 0, crossings: 0, largestGapAtCrossing: 0, watch: 0};
    }

    function lineHeight() {
        var style = getComputedStyle(content() || scroller());
        var h = parseFloat(style.lineHeight);
        return h > 0 ? h : 1.9 * (parseFloat(style.fontSize) || 14);
    }

    function autoAdvance(ms) {
        if (!auto.on || auto.paused || !(ms > 0))
            return;
        var generation = window.folioway.generation;
        if (auto.waitFor >= 0) {
            if (generation === auto.waitFor)
                return; // the next chapter is on its way
            auto.waitFor = -1;
            auto.over = 0;
            auto.stats.crossings++;
            auto.stats.watch = 30; // frames after the new chapter that count as the crossing
        }
        if (auto.lineOf !== generation) {
            auto.line = lineHeight();
            auto.lineOf = generation;
        }
        var box = scroller(), step = auto.carry + auto.perMinute * auto.line * ms / 60000;
        var whole = Math.floor(step), range = box.scrollHeight - box.clientHeight;
        auto.carry = step - whole;
        if (range > 0 && box.scrollTop < range - 1) {
            box.scrollTop = Math.min(range, box.scrollTop + whole);
            return;
        }
        // The last screen stays until it would have passed by (a short chapter only as long as
        // its text is high), then the next chapter.
        if (auto.over === 0) {
            var element = content(), bottom = box.clientHeight;
            if (element)
                bottom = element.getBoundingClientRect().bottom - box.getBoundingClientRect().top;
            auto.dwell = Math.max(1, Math.min(box.clientHeight * 0.8, bottom));
        }
        auto.over += whole;
        if (auto.over >= auto.dwell && channelReader) {
            auto.waitFor = generation;
            channelReader.keyDown(34);
        }
    }

    function autoFrame(now) {
        auto.requested = false;
        if (!auto.on || auto.paused || auto.driven) {
            auto.last = -1;
            return;
        }
        if (auto.last >= 0) {
            var gap = now - auto.last, stats = auto.stats;
            stats.frames++;
            stats.largestGap = Math.max(stats.largestGap, gap);
            if (auto.waitFor >= 0 || stats.watch > 0) {
                stats.largestGapAtCrossing = Math.max(stats.largestGapAtCrossing, gap);
                stats.watch = Math.max(0, stats.watch - 1);
            }
            autoAdvance(Math.min(gap, 250)); // a page hidden for a while does not jump on
        }
        auto.last = now;
        auto.requested = true;
        requestAnimationFrame(autoFrame);
    }

    function autoScroll(on, paused, perMinute) {
        if (on && !auto.on)
            auto.stats = newStats();
        auto.on = !!on;
        auto.paused = !!paused;
        auto.perMinute = Math.max(0, perMinute);
        if (!auto.on) {
            auto.waitFor = -1;
            auto.over = 0;
            auto.carry = 0;
        }
        if (auto.on && !auto.paused && !auto.driven && !auto.requested) {
            auto.requested = true;
            requestAnimationFrame(autoFrame);
        }
    }

    window.folioway = {
        contentText: function () {
            var element = content();
            return element ? element.innerText : "";
        },
        highlight: highlight,
        chosenPlace: function () {
            var element = content();
            return {text: element ? element.innerText : "", place: chosenPlace};
        },
        highlightOccurrence: highlightOccurrence,
        find: find,
        clearSelection: function () {
            keptHighlight = null;
            window.getSelection().removeAllRanges();
        },
        scrollToFraction: scrollToFraction,
        // New text is on the page, at its top.
        textWritten: function () {
            anchorHere();
            reportNow();
        },
        scrollState: scrollState,
        autoScroll: autoScroll,
        autoScrollTick: function (ms) {
            auto.driven = true;
            autoAdvance(ms);
        },
        autoScrollState: function () {
            var state = auto.stats || newStats();
            state.running = auto.on;
            state.paused = auto.paused;
            return state;
        },
        generation: 0 // of the text on the page; set with every new text
    };
    ensureLead();
    watchLayout();
    document.addEventListener("scroll", function () {
        if (!anchor || anchor.scrollTop !== scroller().scrollTop)
            anchorHere();
    }, true);

    if (typeof qt === "undefined" || !qt.webChannelTransport)
        return;
    new QWebChannel(qt.webChannelTransport, function (channel) {
        var reader = channel.objects.reader;
        channelReader = reader;
        document.addEventListener("keydown", function (event) {
            if (event.altKey || event.ctrlKey || event.metaKey || event.shiftKey)
                return;
            var code = event.keyCode, state = scrollState();
            if (code === 37 || code === 39 || code === 13) {
                reader.keyDown(code);
            } else if ((code === 34 || code === 32) && state.atEnd) {
                // Paging on past the end of the chapter goes on into the next one.
                event.preventDefault();
                reader.keyDown(34);
            } else if (code === 33 && state.atTop) {
                event.preventDefault();
                reader.keyDown(33);
            } else if (code === 36 || code === 35) {
                event.preventDefault();
                scrollToFraction(code === 36 ? 0 : 1);
            }
        }, true);
        // Where the reader is, at most a few times a second.
        var reportPending = false;
        document.addEventListener("scroll", function () {
            if (reportPending)
                return;
            reportPending = true;
            setTimeout(function () {
                reportPending = false;
                var state = scrollState();
                reader.scrolled(window.folioway.generation, state.top, state.seen, topWords());
            }, 250);
        }, true);
        reader.ready();
    });
})();
