// Piece 1 of the collector script, which the build joins from its parts in the order that
// CMakeLists.txt lists them, into one closure: the closure's opening, its constants and shared
// state, and the readers of single values that the walk uses (srcset candidates, sizes, lazy
// addresses, texts, titles, alternative texts, encodings).
//
// Collects every address that a document offers, in the application's own script world (the page's
// scripts can neither see nor replace what it uses). Installed in every frame when the frame's
// document is created; reads only, the page is left as it is.
//
// The top frame's collection walks its document, its open shadow roots and its same-origin frames
// directly. A cross-origin frame is asked over its collector's own line: a message channel that the
// frame's collector made when its document was created and handed to this world with the secret
// that only the collectors of this page know. Requests, with the collection's fresh key and a fresh
// answer port, travel only on lines, never through the windows' messages that the pages' scripts
// can listen to; answers count only on their own port with that key. A frame that does not answer
// in time is named in the answer; one whose document failed (an error page) has nothing to give.
(function () {
    'use strict';
    if (window.__nepirikaScan)
        return;
    var SECRET = '__NEPIRIKA_KEY__';
    var HTML_NS = 'http://www.w3.org/1999/xhtml';
    var SVG_NS = 'http://www.w3.org/2000/svg';
    var XLINK_NS = 'http://www.w3.org/1999/xlink';
    // What the common lazy loaders keep the real address in, on <img> and <source>.
    var LAZY = ['data-src', 'data-srcset', 'data-original', 'data-original-set', 'data-lazy-src',
                'data-lazy-srcset', 'data-pagespeed-lazy-src', 'data-hi-res-src'];
    var LAZY_SETS = { 'data-srcset': true, 'data-original-set': true, 'data-lazy-srcset': true };
    // The page's declared share images.
    var SHARE = { 'og:image': true, 'og:image:url': true, 'og:image:secure_url': true,
                  'twitter:image': true, 'twitter:image:src': true };
    var STYLE_URL = /url\(\s*(?:"((?:[^"\\]|\\[\s\S])*)"|'((?:[^'\\]|\\[\s\S])*)'|((?:[^\s"'()\\]|\\[\s\S])*))\s*\)/gi;
    var SCHEME = /^[a-zA-Z][a-zA-Z0-9+.\-]*:/;
    // A link to a picture: its address's path names an image file, or the link says so by its type.
    var IMAGE_FILE = /\.(jpe?g|png|gif|webp|avif|bmp|svg|tiff?|heic)$/i;
    // The vias of the lazy attributes, made once: most addresses of a page share a few vias.
    var LAZY_VIAS = { img: LAZY.map(function (a) { return 'img@' + a; }),
                      source: LAZY.map(function (a) { return 'source@' + a; }) };
    // Child windows whose collector has announced itself: its line (null for an error page).
    var lines = new Map();
    // Collections still waiting for frames, by ticket.
    var waiting = {};
    var tickets = 0;

    function isSpace(c) {
        return c === ' ' || c === '\t' || c === '\n' || c === '\r' || c === '\f';
    }

    // The URLs of a srcset value, by the HTML rules: a candidate's URL runs to the next white space
    // (a comma inside it stays), trailing commas end it, and its descriptors run to the next comma
    // outside parentheses. descriptors, when given, gets each URL's descriptors ("1280w", "2x", or
    // '' for none), white space collapsed.
    function srcsetUrls(s, descriptors) {
        var out = [], i = 0, n = s.length;
        while (i < n) {
            while (i < n && (isSpace(s[i]) || s[i] === ','))
                ++i;
            if (i >= n)
                break;
            var start = i;
            while (i < n && !isSpace(s[i]))
                ++i;
            var url = s.slice(start, i), from = i, to = i;
            if (url.charAt(url.length - 1) === ',') {
                url = url.replace(/,+$/, '');
            } else {
                for (var depth = 0; i < n; ++i, to = i) {
                    var c = s[i];
                    if (c === '(') {
                        ++depth;
                    } else if (c === ')') {
                        if (depth)
                            --depth;
                    } else if (c === ',' && !depth) {
                        ++i;
                        break;
                    }
                }
            }
            if (url) {
                out.push(url);
                if (descriptors)
                    descriptors.push(from < to ? describe(s.slice(from, to)) : '');
            }
        }
        return out;
    }

    function describe(d) {
        return d.trim().replace(/[ \t\n\r\f]+/g, ' ');
    }

    // A width or height attribute as the HTML rules read it in pixels (a leading number; a
    // percentage is no pixel size); -1 when there is none.
    function dimension(e, name) {
        var v = e.getAttribute(name);
        if (v === null)
            return -1;
        var m = /^[ \t\n\r\f]*(\d+)(?:\.\d*)?\s*(%?)/.exec(v);
        return m && !m[2] ? Math.min(parseInt(m[1], 10), 2147483647) : -1;
    }

    function cssUnescape(v) {
        return v.replace(/\\([0-9a-fA-F]{1,6})[ \t\n]?|\\([\s\S])/g, function (m, hex, ch) {
            if (hex) {
                var code = parseInt(hex, 16);
                return String.fromCodePoint(code > 0 && code <= 0x10FFFF ? code : 0xFFFD);
            }
            return ch === '\n' ? '' : ch;
        });
    }

    // A lazy loader's attribute holds an address, not a flag or a template ("true", "lazy", "#").
    function looksLikeAddress(v) {
        if (!v || v.charAt(0) === '#' || /^(about|javascript):/i.test(v))
            return false;
        if (v.indexOf('{{') >= 0 || v.indexOf('${') >= 0 || v.indexOf('<%') >= 0)
            return false;
        return /[.\/:?=]/.test(v);
    }

    function text(v) {
        if (typeof v === 'string')
            return v;
        if (v && typeof v.baseVal === 'string')
            return v.baseVal;
        return v === null || v === undefined ? '' : String(v);
    }

    // Each address stands in its group as STRIDE entries: address, via, charset, title.
    var STRIDE = 4;
    // The longest title and alternative text kept (a name made of them is cut far shorter).
    var TITLE_CHARS = 4096;
    var ALT_CHARS = 1024;

    function clipped(v, most) {
        v = (v === null || v === undefined ? '' : String(v)).replace(/[\t\n\f\r ]+/g, ' ').trim();
        return v.length > most ? v.slice(0, most) : v;
    }

    // The title of a document as the page shows it (a frame's own for a frame's), read in the
    // document's encoding.
    function titleOf(doc) {
        try {
            return clipped(doc.title, TITLE_CHARS);
        } catch (x) {
            return '';
        }
    }

    // An element's own alternative text: its alt, else its title attribute.
    function ownAlt(e) {
        var v = clipped(e.getAttribute('alt'), ALT_CHARS);
        return v || clipped(e.getAttribute('title'), ALT_CHARS);
    }

    // The alternative text of the image that an element's address names. For an <a> (a linked
    // image, a@href) it is the text of the link, else the alt of the thumbnail inside it; for a
    // <source> of a <picture> the alt of the picture's <img>. This is the hook for every image
    // record: Scan.add takes it from the element being walked (Scan.current) whenever an address
    // is added to the images, whichever element kind adds it.
    function altText(e) {
        if (!e || e.namespaceURI !== HTML_NS)
            return '';
        switch (e.localName) {
        case 'a':
        case 'area':
            var text = clipped(e.textContent, ALT_CHARS);
            if (text)
                return text;
            var thumbnail = e.querySelector('img');
            return thumbnail ? ownAlt(thumbnail) : ownAlt(e);
        case 'source':
            var picture = e.parentElement;
            var img = picture && picture.localName === 'picture' ? picture.querySelector('img') : null;
            return img ? ownAlt(img) : '';
        case 'img':
        case 'input':
        case 'video':
            return ownAlt(e);
        default:
            return '';
        }
    }

    // The encoding of a document, as document.characterSet names it ("Shift_JIS").
    function charsetOf(doc) {
        try {
            return String(doc.characterSet || '');
        } catch (x) {
            return '';
        }
    }
