<?xml version="1.0"?>
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="xml"/>
  <xsl:template match="/">
    <titles count="{count(books/book)}"><xsl:copy-of select="books/book/title"/></titles>
  </xsl:template>
</xsl:stylesheet>
